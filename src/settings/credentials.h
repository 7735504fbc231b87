#pragma once

#include <QString>

namespace framelog {

// Where a recipe's password-file is: a relative name is looked up first in
// `credentialsDirectory` (systemd's $CREDENTIALS_DIRECTORY, for a
// credential passed with LoadCredential=) when that is set and holds it,
// else taken from the current folder.
QString passwordFilePath(const QString &passwordFile, const QString &credentialsDirectory);

// The password a password file holds: its first line, without the line's
// end. Throws ERecipe "password-file: <path>: ..." when the file is not
// there, not a regular file, too large, or readable by group or others
// (as ssh refuses such a key: the password has leaked already or will).
QString readPasswordFile(const QString &passwordFile, const QString &credentialsDirectory);

} // namespace framelog

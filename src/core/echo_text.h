#pragma once

#include <QString>

namespace framelog {

// Text from the user or a file, fit to be shown again in a message on a
// terminal: control characters (C0, DEL, C1) escaped as \t, \n, \r or
// \xHH / \uHHHH, so that they neither move the cursor nor ring the bell nor
// set the terminal's title, and text longer than `limit` characters cut
// there with "..." and its length, never inside a surrogate pair.
QString echoText(const QString &text, qsizetype limit = 120);

} // namespace framelog

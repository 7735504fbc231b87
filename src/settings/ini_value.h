#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

namespace framelog {

// The value of a "key = value" line as typed (after the "="), read the way
// QSettings' INI reader reads it: a ';' outside double quotes starts a
// comment and cuts the value there, and a ',' outside them makes the value
// a list, losing the spaces around it. Returns the first such character, or
// a null QChar when the value reads as typed in these respects. A
// backslash escapes the next character, and double quotes may stand
// anywhere.
QChar unquotedIniSeparator(QStringView value);

// `value` in double quotes, its backslashes and double quotes escaped: the
// form QSettings reads back as exactly `value`.
QString quotedIniValue(QStringView value);

} // namespace framelog

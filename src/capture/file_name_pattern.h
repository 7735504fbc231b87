#pragma once

#include "capture/locale_formats.h"
#include "capture/path_parts.h"

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <functional>

namespace framelog {

// Makes a file name from the pattern typed by the user. The folder part (up
// to the last delimiter) is kept as typed; in the name part the
// placeholders %counter%, %time%, %shorttime%, %date%, %shortdate% and
// %title% are replaced (in that order, any letter case), and characters
// that are unsafe in file names become '-'.
//
// The clock is read once for each of the four date and time placeholders;
// the title once, also when the pattern has no %title%. Neither is read
// anywhere else, so the function has no other inputs.
QString expandFileNamePattern(const QString &pattern, qint32 counter,
                              const std::function<QDateTime()> &clock,
                              const std::function<QString()> &title, const LocaleFormats &formats,
                              QStringView delimiters = kPathDelimiters);

} // namespace framelog

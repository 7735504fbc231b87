#pragma once

#include "capture/locale_formats.h"
#include "core/paths.h"

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <functional>
#include <span>

namespace framelog {

// What a placeholder is replaced with.
struct PatternInputs {
    qint32 counter = 0;
    std::function<QDateTime()> clock;
    std::function<QString()> title;
    LocaleFormats formats;
    // The width a placeholder with an argument asks for (%counter:6%).
    int width = 0;
};

// One placeholder of the file name pattern: the token, its lines in the
// legend under the pattern field, and what it expands to.
struct Placeholder {
    QStringView token;
    // The token as the legend lists it (the date's carries a comma).
    QStringView legendToken;
    QStringView legend;
    QString (*expand)(const PatternInputs &inputs);
    // The title comes from the page: it is put in after every other token, so
    // placeholder text inside it goes in literally.
    bool fromPage = false;
    // The names that sort (%isodate%, %counter:6%...): not in the window's
    // legend, replaced in the folder part too so that they can make
    // folders, read only when the pattern holds them, and sharing one
    // reading of the clock so that a day's folder and its names agree.
    bool sortable = false;
    // The token's "N" stands for a width of 1 to 99 digits.
    bool takesWidth = false;
};

// Every placeholder, in the legend's order.
std::span<const Placeholder> placeholders();

// The legend under the pattern field: the tokens' column and their
// meanings' column, as two texts of lines.
QString placeholderTokenLegend();
QString placeholderMeaningLegend();

// Makes a file name from the pattern typed by the user. The folder part (up
// to the last delimiter) is kept as typed, except that the sortable
// placeholders are replaced there too (their text holds no delimiter); in
// the name part every placeholder is replaced (any letter case; the page's
// last), and characters that are unsafe in file names become '-'.
//
// The page's title cannot break the name: its C1 controls, bidirectional
// controls and line or paragraph separators also become '-'; a name it
// would make start with '.' (hidden) gets a '-' for that dot; and when the
// name part would exceed 255 bytes, the title is cut at a character boundary
// until it fits, keeping all the pattern puts around it. A pattern too long
// by itself is left so: the save reports it.
//
// The clock is read once for each of the four date and time placeholders,
// and once more for all the sortable ones when the pattern holds any; the
// title once, also when the pattern has no %title%. Neither is read
// anywhere else, so the function has no other inputs.
QString expandFileNamePattern(const QString &pattern, const PatternInputs &inputs,
                              QStringView delimiters = kPathDelimiters);

// The same with the inputs spelt out.
QString expandFileNamePattern(const QString &pattern, qint32 counter,
                              const std::function<QDateTime()> &clock,
                              const std::function<QString()> &title, const LocaleFormats &formats,
                              QStringView delimiters = kPathDelimiters);

} // namespace framelog

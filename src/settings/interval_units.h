#pragma once

#include <QString>
#include <QtGlobal>

namespace framelog {

// Unit conversion for the two interval fields (the body of the window's
// shared OnConvert handler). The number `value` was typed with the unit
// `typedPostfix`; an empty one means the field's own unit `fieldPostfix`. It
// is converted into seconds and from there into the field's unit. Units, compared ignoring ASCII
// case: "ms", "m" or "min", "h"; any other text (including "s") counts as seconds. Every unit is
// accepted, so the handler never clears CanConvert. Throws EOverflow when the result leaves the
// extended range.
long double convertToFieldUnit(const QString &fieldPostfix, const QString &typedPostfix,
                               long double value);

// Timer intervals from the fields' values: Round(seconds * 1000) and
// Round(minutes * 60 * 1000), multiplied in extended precision in that order,
// rounded to nearest with ties to even; the low 32 bits of the integer are
// the interval (a negative result wraps as two's complement). NaN and
// infinities give 0.
quint32 pictureIntervalMs(long double seconds);
quint32 pageIntervalMs(long double minutes);

} // namespace framelog

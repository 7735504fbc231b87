#include "settings/interval_units.h"

#include "core/exception.h"

#include <cmath>

namespace framelog {

namespace {

// Only ASCII letters fold: unit texts are short Latin abbreviations, and a
// Unicode fold would let look-alikes (U+017F for "s") through.
bool equalsAsciiNoCase(const QString &text, const char *unit)
{
    qsizetype i = 0;
    for (; unit[i] != '\0'; ++i) {
        if (i >= text.size())
            return false;
        char16_t c = text[i].unicode();
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != static_cast<char16_t>(unit[i]))
            return false;
    }
    return i == text.size();
}

enum class Unit { Milliseconds, Seconds, Minutes, Hours };

Unit unitOf(const QString &text)
{
    if (equalsAsciiNoCase(text, "ms"))
        return Unit::Milliseconds;
    if (equalsAsciiNoCase(text, "m") || equalsAsciiNoCase(text, "min"))
        return Unit::Minutes;
    if (equalsAsciiNoCase(text, "h"))
        return Unit::Hours;
    return Unit::Seconds;
}

long double checked(long double value)
{
    if (std::isinf(value))
        throw EOverflow();
    return value;
}

long double toSeconds(Unit unit, long double value)
{
    switch (unit) {
    case Unit::Milliseconds:
        return value / 1000.0L;
    case Unit::Minutes:
        return checked(value * 60.0L);
    case Unit::Hours:
        return checked(value * 3600.0L);
    case Unit::Seconds:
        break;
    }
    return value;
}

long double fromSeconds(Unit unit, long double seconds)
{
    switch (unit) {
    case Unit::Milliseconds:
        return checked(seconds * 1000.0L);
    case Unit::Minutes:
        return seconds / 60.0L;
    case Unit::Hours:
        return seconds / 3600.0L;
    case Unit::Seconds:
        break;
    }
    return seconds;
}

// Round half to even, then the low 32 bits of the integer. Written out
// rather than left to the FPU's rounding mode; fmod is exact, so this holds
// for any finite magnitude.
quint32 roundToLow32(long double x)
{
    if (!std::isfinite(x))
        return 0;
    long double r = std::floor(x);
    const long double fraction = x - r; // exact
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(r, 2.0L) != 0.0L))
        r += 1.0L;
    constexpr long double k2to32 = 4294967296.0L;
    long double low = std::fmod(r, k2to32);
    if (low < 0.0L)
        low += k2to32;
    return static_cast<quint32>(low);
}

} // namespace

long double convertToFieldUnit(const QString &fieldPostfix, const QString &typedPostfix,
                               long double value)
{
    const Unit source = unitOf(typedPostfix.isEmpty() ? fieldPostfix : typedPostfix);
    return fromSeconds(unitOf(fieldPostfix), toSeconds(source, value));
}

quint32 pictureIntervalMs(long double seconds)
{
    return roundToLow32(seconds * 1000.0L);
}

quint32 pageIntervalMs(long double minutes)
{
    return roundToLow32(minutes * 60.0L * 1000.0L);
}

} // namespace framelog

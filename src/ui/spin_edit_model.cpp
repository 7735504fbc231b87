#include "ui/spin_edit_model.h"

#include <QStringView>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace framelog {

namespace {

constexpr int kMaxDecimals = 10;
constexpr int kSignificantDigits = 15;
// Exponents from here on are refused outright rather than overflowing.
constexpr int kExponentLimit = 5000;

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}
bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
bool isOperator(QChar c)
{
    return c == QLatin1Char('*') || c == QLatin1Char('+') || c == QLatin1Char('-') ||
           c == QLatin1Char('/');
}

// Characters a unit text may hold: everything the number grammar does not
// stop at.
bool isUnitChar(QChar c)
{
    if (c.unicode() <= 32 || isDigit(c))
        return false;
    switch (c.unicode()) {
    case '*':
    case '+':
    case ',':
    case '-':
    case '.':
    case '/':
    case '^':
        return false;
    default:
        return true;
    }
}

bool isValidUnit(const QString &unit)
{
    return std::all_of(unit.begin(), unit.end(), isUnitChar);
}

long double checked(long double value)
{
    if (std::isinf(value))
        throw EOverflow();
    return value;
}

// 10^n, exact while it fits the 64-bit mantissa (n <= 27); infinite past the
// extended range so that callers report the overflow.
long double pow10(qsizetype n)
{
    if (n <= 27) {
        long double p = 1.0L;
        for (qsizetype k = 0; k < n; ++k)
            p *= 10.0L;
        return p;
    }
    if (n > kExponentLimit)
        return std::numeric_limits<long double>::infinity();
    return std::pow(10.0L, static_cast<long double>(n));
}

// Reads a run of decimal digits at `i`. Chunks of up to 18 digits are exact
// integers, so runs of up to 19 digits come out exact and longer runs round
// only once per chunk; nothing wraps.
long double readDigitRun(QStringView s, qsizetype &i, qsizetype &count)
{
    long double value = 0.0L;
    while (i < s.size() && isDigit(s[i])) {
        std::uint64_t chunk = 0;
        int length = 0;
        while (i < s.size() && isDigit(s[i]) && length < 18) {
            chunk = chunk * 10 + static_cast<std::uint64_t>(s[i].unicode() - '0');
            ++length;
            ++i;
        }
        value = checked(checked(value * pow10(length)) + static_cast<long double>(chunk));
        count += length;
    }
    return value;
}

void skipSpaces(QStringView s, qsizetype &i)
{
    while (i < s.size() && isSpace(s[i]))
        ++i;
}

QString readUnit(QStringView s, qsizetype &i)
{
    const qsizetype start = i;
    while (i < s.size() && isUnitChar(s[i]))
        ++i;
    return s.mid(start, i - start).toString();
}

} // namespace

QString formatFixed(long double value, int decimals, QChar separator)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    decimals = std::clamp(decimals, 0, kMaxDecimals);

    // 18 significant digits, rounded to nearest by the C library. Only the
    // digits and the exponent are taken, so the C locale's decimal point does
    // not matter.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17Le", std::fabs(value));
    std::string digits;
    const char *p = buffer;
    for (; *p != '\0' && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            digits += *p;
    }
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    // value = 0.d1d2d3... x 10^point
    int point = exponent + 1;

    const int keep = std::min(kSignificantDigits, point + decimals);
    std::string kept;
    if (keep >= 0) {
        kept = digits.substr(0, static_cast<std::size_t>(keep));
        if (static_cast<std::size_t>(keep) < digits.size() &&
            digits[static_cast<std::size_t>(keep)] >= '5') {
            int j = keep - 1;
            while (j >= 0 && kept[static_cast<std::size_t>(j)] == '9')
                kept[static_cast<std::size_t>(j--)] = '0';
            if (j < 0) {
                kept.insert(kept.begin(), '1');
                ++point;
            } else {
                ++kept[static_cast<std::size_t>(j)];
            }
        }
    }
    const bool nonZero = kept.find_first_not_of('0') != std::string::npos;
    auto digitAt = [&](int k) -> char {
        return k >= 0 && static_cast<std::size_t>(k) < kept.size()
                   ? kept[static_cast<std::size_t>(k)]
                   : '0';
    };

    QString out;
    if (std::signbit(value) && nonZero)
        out += QLatin1Char('-');
    if (point <= 0) {
        out += QLatin1Char('0');
    } else {
        out.reserve(out.size() + point + decimals + 1);
        for (int k = 0; k < point; ++k)
            out += QLatin1Char(digitAt(k));
    }
    if (decimals > 0) {
        out += separator;
        for (int k = point; k < point + decimals; ++k)
            out += QLatin1Char(digitAt(k));
    }
    return out;
}

void SpinEditModel::setValueType(SpinValueType type)
{
    if (type != SpinValueType::evtFloat)
        throw EPropertyError(QStringLiteral("Invalid value type"));
    m_valueType = type;
}

template <class F> void SpinEditModel::reformatAround(F &&change)
{
    const long double current = value();
    change();
    setValue(current);
}

void SpinEditModel::setDecimal(int decimals)
{
    reformatAround([&] { m_decimal = std::clamp(decimals, 0, kMaxDecimals); });
}

void SpinEditModel::setIncrement(long double increment)
{
    if (!(increment > 0.0L))
        throw EPropertyError(QStringLiteral("Increment should be a positive value"));
    m_increment = increment;
}

void SpinEditModel::setPrefix(const QString &prefix)
{
    if (!isValidUnit(prefix))
        throw EPropertyError(QStringLiteral("Invalid prefix"));
    reformatAround([&] { m_prefix = prefix; });
}

void SpinEditModel::setPostfix(const QString &postfix)
{
    if (!isValidUnit(postfix))
        throw EPropertyError(QStringLiteral("Invalid postfix"));
    reformatAround([&] { m_postfix = postfix; });
}

void SpinEditModel::setSpaceAfterPrefix(bool on)
{
    reformatAround([&] { m_spaceAfterPrefix = on; });
}

void SpinEditModel::setSpaceBeforePostfix(bool on)
{
    reformatAround([&] { m_spaceBeforePostfix = on; });
}

void SpinEditModel::setDecimalSeparator(QChar separator)
{
    reformatAround([&] { m_separator = separator; });
}

long double SpinEditModel::value() const
{
    const std::optional<long double> parsed = parse(m_text);
    return parsed ? *parsed : m_lastValid;
}

void SpinEditModel::setValue(long double value)
{
    m_text = format(value);
    m_lastValid = clamp(value);
}

long double SpinEditModel::clamp(long double value) const
{
    if (m_min != m_max) {
        if (value < m_min)
            return m_min;
        if (value > m_max)
            return m_max;
    }
    return value;
}

QString SpinEditModel::format(long double value) const
{
    QString out;
    if (!m_prefix.isEmpty()) {
        out += m_prefix;
        if (m_spaceAfterPrefix)
            out += QLatin1Char(' ');
    }
    out += formatFixed(clamp(value), m_decimal, m_separator);
    if (!m_postfix.isEmpty()) {
        if (m_spaceBeforePostfix)
            out += QLatin1Char(' ');
        out += m_postfix;
    }
    return out;
}

std::optional<long double> SpinEditModel::parse(const QString &text) const
{
    const QStringView s(text);
    qsizetype i = 0;

    // One term: prefix, number, postfix, each followed by whitespace; the
    // number handed through the converter.
    auto readTerm = [&]() -> std::optional<long double> {
        const QString prefix = readUnit(s, i);
        skipSpaces(s, i);

        qsizetype digitCount = 0;
        long double number = readDigitRun(s, i, digitCount);
        if (i < s.size() && s[i] == m_separator) {
            ++i;
            qsizetype fractionDigits = 0;
            const long double fraction = readDigitRun(s, i, fractionDigits);
            digitCount += fractionDigits;
            if (fractionDigits > 0)
                number = checked(number + fraction / checked(pow10(fractionDigits)));
        }
        if (digitCount == 0)
            return std::nullopt;

        if (i + 1 < s.size() && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E')) &&
            (s[i + 1] == QLatin1Char('+') || s[i + 1] == QLatin1Char('-') || isDigit(s[i + 1]))) {
            ++i;
            bool negative = false;
            if (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-'))
                negative = s[i++] == QLatin1Char('-');
            if (i >= s.size() || !isDigit(s[i]))
                return std::nullopt;
            int exponent = 0;
            while (i < s.size() && isDigit(s[i])) {
                // Saturates: anything this large is refused below anyway.
                exponent = std::min(exponent * 10 + (s[i].unicode() - '0'), kExponentLimit);
                ++i;
            }
            if (exponent >= kExponentLimit)
                return std::nullopt;
            const long double power = checked(pow10(exponent));
            number = checked(negative ? number / power : number * power);
        }
        skipSpaces(s, i);
        const QString postfix = readUnit(s, i);
        skipSpaces(s, i);

        bool canConvert = true;
        if (m_converter)
            m_converter(prefix, postfix, number, canConvert);
        if (!canConvert || std::isnan(number))
            return std::nullopt;
        return checked(number);
    };

    if (s.isEmpty())
        return std::nullopt;
    skipSpaces(s, i);
    long double sign = 1.0L;
    if (i < s.size() && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+'))) {
        sign = s[i] == QLatin1Char('-') ? -1.0L : 1.0L;
        ++i;
        skipSpaces(s, i);
    }
    const std::optional<long double> first = readTerm();
    if (!first)
        return std::nullopt;
    long double result = sign * *first;

    if (i < s.size() && isOperator(s[i])) {
        const QChar op = s[i++];
        skipSpaces(s, i);
        const std::optional<long double> second = readTerm();
        if (!second)
            return std::nullopt;
        switch (op.unicode()) {
        case '*':
            result = checked(result * *second);
            break;
        case '+':
            result = checked(result + *second);
            break;
        case '-':
            result = checked(result - *second);
            break;
        default:
            if (*second == 0.0L)
                return std::nullopt;
            result = checked(result / *second);
            break;
        }
    }
    if (i != s.size())
        return std::nullopt;
    return result;
}

long double SpinEditModel::steppedValue(long double oldValue, int step) const
{
    if (!m_snap)
        return step > 0 ? oldValue + m_increment : oldValue - m_increment;

    // Floor and Ceil yield 32-bit integers; holding the argument inside that
    // range first keeps the conversion defined for any value.
    auto toInt32 = [](long double x) -> std::int32_t {
        constexpr long double lo = std::numeric_limits<std::int32_t>::min();
        constexpr long double hi = std::numeric_limits<std::int32_t>::max();
        if (std::isnan(x))
            return 0;
        return static_cast<std::int32_t>(std::clamp(x, lo, hi));
    };
    const long double tolerance = m_increment * 0.0001L;
    const long double ratio = oldValue / m_increment;
    const std::int32_t multiple = step > 0 ? toInt32(std::floor(ratio + 1.0L + tolerance))
                                           : toInt32(std::ceil(ratio - 1.0L - tolerance));
    return static_cast<long double>(multiple) * m_increment;
}

void SpinEditModel::beginEdit()
{
    m_lastValid = value();
}

void SpinEditModel::editTextChanged(const QString &text)
{
    const std::optional<long double> parsed = parse(text);
    if (parsed)
        m_lastValid = clamp(*parsed);
}

void SpinEditModel::step(int step, const StepHook &hook)
{
    step = step > 0 ? 1 : -1;
    const long double oldValue = value();
    long double newValue = steppedValue(oldValue, step);
    if (hook)
        hook(step, oldValue, newValue);
    setValue(newValue);
}

} // namespace framelog

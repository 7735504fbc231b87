#include "settings/byte_size.h"

#include <QRegularExpression>

#include <array>
#include <cmath>

namespace framelog {

namespace {

struct Unit {
    const char *name;
    qint64 factor;
};

constexpr qint64 kKi = 1024;
constexpr std::array<Unit, 10> kUnits = {{
    {"b", 1},
    {"kb", 1000},
    {"mb", 1000 * 1000},
    {"gb", 1000LL * 1000 * 1000},
    {"tb", 1000LL * 1000 * 1000 * 1000},
    {"kib", kKi},
    {"mib", kKi *kKi},
    {"gib", kKi *kKi *kKi},
    {"tib", kKi *kKi *kKi *kKi},
    {"", 1},
}};

} // namespace

std::optional<qint64> parseByteSize(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]+)?)\\s*([a-z]*)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString unit = match.captured(2).toLower();
    for (const Unit &u : kUnits) {
        if (unit != QLatin1String(u.name))
            continue;
        const long double value = match.captured(1).toDouble() * (long double)u.factor;
        if (!(value >= 1.0L) || value > 9.2e18L)
            return std::nullopt;
        return qint64(std::llround(value));
    }
    return std::nullopt;
}

QString byteSizeText(qint64 bytes)
{
    static const char *const kNames[] = {"TiB", "GiB", "MiB", "KiB"};
    qint64 factor = kKi * kKi * kKi * kKi;
    for (const char *name : kNames) {
        if (bytes != 0 && bytes % factor == 0)
            return QStringLiteral("%1 %2").arg(bytes / factor).arg(QLatin1String(name));
        factor /= kKi;
    }
    return QStringLiteral("%1 B").arg(bytes);
}

QString roundedByteSizeText(qint64 bytes)
{
    static const char *const kNames[] = {"TiB", "GiB", "MiB", "KiB"};
    qint64 factor = kKi * kKi * kKi * kKi;
    for (const char *name : kNames) {
        if (bytes >= factor)
            return QStringLiteral("%1 %2")
                .arg(double(bytes) / double(factor), 0, 'f', 1)
                .arg(QLatin1String(name));
        factor /= kKi;
    }
    return QStringLiteral("%1 B").arg(bytes);
}

} // namespace framelog

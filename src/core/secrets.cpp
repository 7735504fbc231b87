#include "core/secrets.h"

#include <QRegularExpression>

namespace framelog {

QString fingerprintText(const QByteArray &sha256)
{
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}

std::optional<QByteArray> parseFingerprint(const QString &text)
{
    QString hex = text.trimmed();
    for (const char *prefix : {"sha256:", "sha256/", "sha-256:"}) {
        if (hex.startsWith(QLatin1String(prefix), Qt::CaseInsensitive)) {
            hex = hex.mid(qsizetype(qstrlen(prefix)));
            break;
        }
    }
    hex.remove(QLatin1Char(':')).remove(QLatin1Char(' '));
    static const QRegularExpression allHex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    if (!allHex.match(hex).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(hex.toLatin1());
}

QString withoutPassword(const QUrl &url)
{
    return url.toString(QUrl::RemovePassword);
}

QString withoutPassword(const QString &address)
{
    // Only a parsed address with a password changes: anything else (a bare
    // host, a typed word) is shown as typed. A user name with an '@' in it
    // must be written %40, so the authority's last '@' ends the user part.
    const QUrl url(address, QUrl::TolerantMode);
    if (url.isValid() && !url.password().isEmpty())
        return withoutPassword(url);
    // "user:secret@camera" without a scheme reads as the scheme "user";
    // a user means an address with a password.
    if (!address.contains(QLatin1String("://"))) {
        const QUrl typed(QStringLiteral("http://") + address.trimmed(), QUrl::TolerantMode);
        if (typed.isValid() && !typed.password().isEmpty())
            return withoutPassword(typed);
    }
    return address;
}

} // namespace framelog

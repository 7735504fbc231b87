#include "settings/certificate_exceptions.h"

#include "core/exception.h"
#include "core/secrets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace framelog {

namespace {

// Host names are case-blind; the line's own text for everything else.
QString lineFor(const QString &host, const QByteArray &sha256)
{
    return host.toLower() + QLatin1Char(' ') + fingerprintText(sha256);
}

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

} // namespace

CertificateExceptions::CertificateExceptions(QString path) : m_path(std::move(path)) {}

QString CertificateExceptions::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/framelog/trusted-certificates");
}

bool CertificateExceptions::contains(const QString &host, const QByteArray &sha256) const
{
    if (sha256.isEmpty())
        return false;
    const QString wanted = lineFor(host, sha256);
    for (const QString &line : linesOf(m_path)) {
        const QStringList words = line.simplified().split(QLatin1Char(' '));
        if (words.size() != 2)
            continue;
        const auto fingerprint = parseFingerprint(words[1]);
        if (fingerprint && lineFor(words[0], *fingerprint) == wanted)
            return true;
    }
    return false;
}

void CertificateExceptions::add(const QString &host, const QByteArray &sha256)
{
    if (contains(host, sha256))
        return;
    QStringList lines = linesOf(m_path);
    while (!lines.isEmpty() && lines.constLast().trimmed().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        lines << QStringLiteral("# Certificates trusted in Framelog's window: host and SHA-256");
    lines << lineFor(host, sha256);

    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 ||
        !file.commit())
        throw Exception(QStringLiteral("Cannot remember the certificate in %1: %2")
                            .arg(m_path, file.errorString()));
}

} // namespace framelog

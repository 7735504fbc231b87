#include "browse/webrtc_guard.h"

#include <QFile>
#include <QRandomGenerator>

namespace framelog {

namespace {

const QString &secret()
{
    static const QString value = [] {
        quint32 words[4];
        QRandomGenerator::system()->fillRange(words);
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
    }();
    return value;
}

} // namespace

QString webRtcGuardScript(bool offline)
{
    static const QString source = [] {
        QFile file(QStringLiteral(":/framelog/webrtc_guard.js"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    QString script = source;
    return script.replace(QStringLiteral("@SECRET@"), secret())
        .replace(QStringLiteral("@OFFLINE@"),
                 offline ? QStringLiteral("true") : QStringLiteral("false"));
}

QString webRtcGuardSwitch(bool offline)
{
    return QStringLiteral("window.postMessage('%1%2', '*')")
        .arg(secret(), offline ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace framelog

#pragma once

// The camera-like web server of tests/servers/camera_server.py, run with
// the system's Python: logins (Basic, Digest, a form with a session
// cookie), a self-signed HTTPS certificate, a camera that is away.

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>

namespace framelog::test {

class CameraServer {
public:
    // Starts the server with `arguments`; started() tells whether it runs.
    explicit CameraServer(const QStringList &arguments = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("python3"),
                        QStringList{QStringLiteral(FRAMELOG_TEST_SERVERS "/camera_server.py")} +
                            arguments);
    }
    ~CameraServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Waits for "READY <port>"; false when the server did not come up.
    bool ready(int timeoutMs = 120000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (m_port == 0) {
            if (!readLine(deadline))
                return false;
        }
        return true;
    }

    // The SHA-256 fingerprint a --self-signed server printed (hex).
    QByteArray fingerprint() const { return m_fingerprint; }
    QString url(const QString &path = QStringLiteral("/"), const QString &scheme = "http") const
    {
        return QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(m_port).arg(path);
    }
    // The requests seen so far, "GET /session session=..." (cookie or -).
    QStringList requests()
    {
        QDeadlineTimer none(0);
        while (m_process.canReadLine())
            readLine(none);
        return m_requests;
    }

    // A port nobody listens on now, for a server that comes up later.
    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

private:
    bool readLine(QDeadlineTimer deadline)
    {
        while (!m_process.canReadLine()) {
            if (m_process.state() == QProcess::NotRunning && m_process.bytesAvailable() == 0)
                return false;
            if (deadline.hasExpired() ||
                !m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
                if (!m_process.canReadLine())
                    return false;
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        if (line.startsWith(u"READY "))
            m_port = line.mid(6).toUShort();
        else if (line.startsWith(u"FINGERPRINT "))
            m_fingerprint = line.mid(12).toLatin1();
        else if (line.startsWith(u"REQUEST "))
            m_requests << line.mid(8);
        return true;
    }

    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_fingerprint;
    QStringList m_requests;
};

} // namespace framelog::test

#pragma once

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTest>

namespace framelog::test {

// A server of the tests' own, in Python's standard library (tests/support/*.py),
// in a process of its own: it prints one line of JSON when it listens, and
// answers commands written to it with one line of JSON.
class PythonServer {
public:
    PythonServer(const QString &script, const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("python3"),
                        QStringList{QStringLiteral(FRAMELOG_TEST_PAGES "/../support/") + script} +
                            arguments);
        m_started = nextLine();
    }
    ~PythonServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    PythonServer(const PythonServer &) = delete;
    PythonServer &operator=(const PythonServer &) = delete;

    bool isRunning() const { return !m_started.isEmpty(); }
    // What the server said when it started listening.
    const QJsonObject &started() const { return m_started; }
    int port() const { return m_started.value(QStringLiteral("port")).toInt(); }

    // Writes a command and waits for its answer (an empty object on none).
    QJsonObject ask(const QByteArray &command)
    {
        m_process.write(command + '\n');
        return nextLine();
    }
    void tell(const QByteArray &command) { m_process.write(command + '\n'); }

private:
    QJsonObject nextLine()
    {
        QDeadlineTimer deadline(20000);
        while (!m_process.canReadLine()) {
            // Other processes' events (the browser's) go on meanwhile.
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return {};
            QTest::qWait(10);
        }
        return QJsonDocument::fromJson(m_process.readLine()).object();
    }

    QProcess m_process;
    QJsonObject m_started;
};

} // namespace framelog::test

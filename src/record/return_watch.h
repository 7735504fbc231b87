#pragma once

#include <QObject>
#include <QTimer>
#include <QUrl>

class QTcpSocket;

namespace framelog {

// A camera that could not be reached (refused, unreachable) is tried only
// at its back-off's pace (PageOutage), up to minutes apart: once it is up
// again the record would stay missing for as long. Meanwhile its port is
// knocked on (a TCP connection, opened and closed, nothing sent) every
// kEveryMs; once a port that refused opens, cameBack() says to try now.
// A port that answers from the first knock (a camera that answers with an
// error) never signals: its failures are not about reaching it.
class ReturnWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kEveryMs = 5000;
    // A knock not answered within this counts as closed.
    static constexpr int kKnockTimeoutMs = 3000;

    // `everyMs`: the time between knocks.
    explicit ReturnWatch(QObject *parent = nullptr, int everyMs = kEveryMs);
    ~ReturnWatch() override;

    // Knocks at `url`'s host and port (http or https; anything else is not
    // watched) until stop() or cameBack(). Watching the same host and port
    // already goes on as it was.
    void watch(const QUrl &url);
    void stop();
    bool watching() const { return m_timer.isActive() || m_socket; }

signals:
    void cameBack();

private:
    void knock();
    void answered(bool open);
    void drop();

    QString m_host;
    quint16 m_port = 0;
    bool m_sawClosed = false;
    QTimer m_timer;
    QTimer m_timeout;
    QTcpSocket *m_socket = nullptr;
};

} // namespace framelog

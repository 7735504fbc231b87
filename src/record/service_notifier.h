#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

namespace framelog {

// What the recorder tells the service manager that started it (systemd's
// notify protocol: READY=1, STATUS=..., WATCHDOG=1, STOPPING=1). Outside a
// Type=notify service (no NOTIFY_SOCKET) it is off and sends nothing.
class ServiceNotifier {
public:
    // Sends one message; false when it could not be sent.
    using Send = std::function<bool(const QByteArray &message)>;

    // Off: sends nothing.
    ServiceNotifier() = default;
    // `watchdog`: the service's WatchdogSec, if it has one.
    ServiceNotifier(Send send, std::optional<std::chrono::microseconds> watchdog);
    // The service manager this process runs under, through libsystemd's
    // sd_notify; off when there is none (or libsystemd is not built in).
    static ServiceNotifier fromEnvironment();

    bool enabled() const { return bool(m_send); }
    std::optional<std::chrono::microseconds> watchdog() const { return m_watchdog; }

    void ready();
    // Sent only when it differs from the last one sent.
    void status(const QString &text);
    void watchdogPing();
    void stopping();

private:
    void send(const QByteArray &message);

    Send m_send;
    std::optional<std::chrono::microseconds> m_watchdog;
    QString m_lastStatus;
};

// Whether every recipe's picture ticks are alive: a tick due at `dueMs`
// (steady clock) that has not come by then plus a slack of a quarter of its
// interval and five seconds means a recorder that no longer ticks. A
// recipe without a due tick (stopped) does not count.
struct DueTick {
    std::optional<qint64> dueMs;
    qint64 everyMs = 0;
};
bool ticksAlive(const QList<DueTick> &ticks, qint64 nowMs);

// Pings the service manager's watchdog from the event loop it lives in,
// three times per watchdog period, but only while `alive` says the ticks
// come: an event loop that hangs sends nothing, and neither does one whose
// ticks have stopped, so the manager kills and restarts the recorder.
class WatchdogPinger : public QObject {
    Q_OBJECT
public:
    WatchdogPinger(std::chrono::milliseconds period, std::function<bool()> alive,
                   std::function<void()> ping, QObject *parent = nullptr);

    // The first check is one third of the period from now.
    void start();
    // Pings sent, and checks that found the ticks dead.
    qint64 pings() const { return m_pings; }
    qint64 missed() const { return m_missed; }

signals:
    // The ticks were alive at the last check and are not now.
    void ticksStopped();

private:
    void check();

    QTimer *m_timer;
    std::function<bool()> m_alive;
    std::function<void()> m_ping;
    qint64 m_pings = 0;
    qint64 m_missed = 0;
    bool m_wasAlive = true;
};

} // namespace framelog

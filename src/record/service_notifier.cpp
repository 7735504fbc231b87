#include "record/service_notifier.h"

#include <QList>
#include <QTimer>

#ifdef FRAMELOG_HAS_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include <cstdint>

namespace framelog {

ServiceNotifier::ServiceNotifier(Send send, std::optional<std::chrono::microseconds> watchdog)
    : m_send(std::move(send)), m_watchdog(watchdog)
{
}

ServiceNotifier ServiceNotifier::fromEnvironment()
{
#ifdef FRAMELOG_HAS_SYSTEMD
    if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET"))
        return {};
    std::optional<std::chrono::microseconds> watchdog;
    // WATCHDOG_USEC, when WATCHDOG_PID (if given) is this process.
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        watchdog = std::chrono::microseconds(usec);
    return ServiceNotifier(
        [](const QByteArray &message) { return sd_notify(0, message.constData()) > 0; }, watchdog);
#else
    return {};
#endif
}

void ServiceNotifier::send(const QByteArray &message)
{
    if (m_send)
        m_send(message);
}

void ServiceNotifier::ready()
{
    send(QByteArrayLiteral("READY=1"));
}

void ServiceNotifier::status(const QString &text)
{
    if (!m_send || text == m_lastStatus)
        return;
    m_lastStatus = text;
    // One line: the protocol separates its assignments by newlines.
    QString line = text;
    line.replace(u'\n', u' ').replace(u'\r', u' ');
    send(QByteArrayLiteral("STATUS=") + line.toUtf8());
}

void ServiceNotifier::watchdogPing()
{
    send(QByteArrayLiteral("WATCHDOG=1"));
}

void ServiceNotifier::stopping()
{
    send(QByteArrayLiteral("STOPPING=1"));
}

bool ticksAlive(const QList<DueTick> &ticks, qint64 nowMs)
{
    for (const DueTick &tick : ticks) {
        if (!tick.dueMs)
            continue;
        const qint64 slack = tick.everyMs / 4 + 5000;
        if (nowMs > *tick.dueMs + slack)
            return false;
    }
    return true;
}

WatchdogPinger::WatchdogPinger(std::chrono::milliseconds period, std::function<bool()> alive,
                               std::function<void()> ping, QObject *parent)
    : QObject(parent), m_timer(new QTimer(this)), m_alive(std::move(alive)), m_ping(std::move(ping))
{
    // Three chances per period: a late timer still pings in time.
    m_timer->setInterval(std::max<qint64>(1, period.count() / 3));
    connect(m_timer, &QTimer::timeout, this, &WatchdogPinger::check);
}

void WatchdogPinger::start()
{
    m_timer->start();
}

void WatchdogPinger::check()
{
    const bool alive = m_alive();
    if (alive) {
        ++m_pings;
        m_ping();
    } else {
        ++m_missed;
        if (m_wasAlive)
            emit ticksStopped();
    }
    m_wasAlive = alive;
}

} // namespace framelog

#include "settings/timer.h"

#include "core/error_guard.h"

#include <QTimerEvent>

#include <limits>

namespace framelog {

namespace {
TTimer::Starter &starter()
{
    static TTimer::Starter s;
    return s;
}
} // namespace

TTimer::TTimer(QObject *parent) : QObject(parent) {}

TTimer::~TTimer()
{
    if (m_timerId != 0)
        killTimer(m_timerId);
}

void TTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    update();
}

void TTimer::setInterval(quint32 milliseconds)
{
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    update();
}

void TTimer::setOnTimer(std::function<void(TTimer *)> handler)
{
    m_onTimer = std::move(handler);
    update();
}

void TTimer::setStarter(Starter s)
{
    starter() = std::move(s);
}

void TTimer::update()
{
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    if (m_interval == 0 || !m_enabled || !m_onTimer)
        return;
    // Qt takes a signed int; intervals past ~24.8 days cannot be held and are
    // clamped rather than wrapped into a negative (refused) interval.
    const int ms = int(std::min<quint32>(m_interval, std::numeric_limits<int>::max()));
    m_timerId = starter() ? starter()(this, ms) : startTimer(ms, Qt::PreciseTimer);
    if (m_timerId == 0)
        throw EOutOfResources(QStringLiteral("Not enough timers available"));
}

void TTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId || !m_onTimer)
        return;
    guarded([this] { m_onTimer(this); });
}

} // namespace framelog

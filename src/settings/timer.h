#pragma once

#include <QObject>

#include <functional>

namespace framelog {

// A window-system style timer: ticks every Interval ms while Enabled, an
// Interval of 0 meaning no ticks. Writing a property with the value it already
// has does nothing; any other write restarts the count, so the next tick comes
// one full interval after the change. Ticks run inside the error guard, so a
// failing tick is shown in the error box and the timer keeps running.
class TTimer : public QObject {
    Q_OBJECT
public:
    explicit TTimer(QObject *parent = nullptr);
    ~TTimer() override;

    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    quint32 Interval() const { return m_interval; }
    void setInterval(quint32 milliseconds);

    void setOnTimer(std::function<void(TTimer *sender)> handler);

    // Whether a system timer is currently held (ticks can arrive).
    bool isActive() const { return m_timerId != 0; }

    // Test seam: stands in for QObject::startTimer, so a refused timer can be
    // simulated. Returns the timer id, 0 when refused.
    using Starter = std::function<int(QObject *target, int milliseconds)>;
    static void setStarter(Starter starter);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void update();

    std::function<void(TTimer *sender)> m_onTimer;
    bool m_enabled = true;
    quint32 m_interval = 1000;
    int m_timerId = 0;
};

} // namespace framelog

#include "record/page_rest.h"

#include "browse/browser_control.h"
#include "capture/frame_compare.h"
#include "core/error_guard.h"

namespace framelog {

PageRest::PageRest(TBrowserControl *browser, ms interval, Hooks hooks, QObject *parent)
    : QObject(parent), m_browser(browser), m_hooks(std::move(hooks)), m_plan(interval)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { guarded([this] { timeout(); }); });
    connect(m_browser, &TBrowserControl::FrameDrawn, this,
            [this] { guarded([this] { frameDrawn(); }); });
    connect(m_browser, &TBrowserControl::PageAwake, this,
            [this] { guarded([this] { pageAwake(); }); });
    // A load is watched while it draws: awake until the next tick.
    connect(m_browser, &TBrowserControl::LoadStarted, this, [this] {
        if (m_state == State::Resting || m_state == State::Stretching || m_state == State::Waking) {
            m_state = State::Live;
            setAwake();
            at(m_next);
        }
    });
}

PageRest::~PageRest()
{
    if (m_hidden)
        --s_hidden;
}

void PageRest::hide()
{
    if (!std::exchange(m_hidden, true))
        ++s_hidden;
    m_browser->setResting(true);
}

void PageRest::unhide()
{
    if (std::exchange(m_hidden, false))
        --s_hidden;
    m_browser->setResting(false);
}

PageRest::ms PageRest::now()
{
    return std::chrono::duration_cast<ms>(std::chrono::steady_clock::now().time_since_epoch());
}

void PageRest::at(ms when)
{
    m_timer.start(int(std::max<qint64>(0, (when - now()).count())));
}

void PageRest::setAwake()
{
    m_browser->setFrameSignals(false);
    unhide();
}

void PageRest::start()
{
    if (started())
        return;
    m_next = now() + m_plan.interval();
    m_state = State::Live;
    at(m_next);
}

void PageRest::stop()
{
    if (!started())
        return;
    m_state = State::Stopped;
    m_timer.stop();
    m_baseline = QImage();
    setAwake();
}

void PageRest::schedule()
{
    if (m_state == State::Stopped)
        return;
    const ms wakeAt = m_next - m_plan.lead();
    if (wakeAt - now() < kShortestRest || (!m_hidden && s_hidden >= kMostHidden)) {
        m_state = State::Live;
        at(m_next);
        return;
    }
    m_state = State::Resting;
    hide();
    at(std::min(wakeAt, now() + kLongestRest));
}

void PageRest::timeout()
{
    switch (m_state) {
    case State::Resting:
        if (m_next - m_plan.lead() - now() > kStretch + kShortestRest) {
            m_state = State::Stretching;
            unhide();
            at(now() + kStretch);
            return;
        }
        wake();
        return;
    case State::Stretching:
        schedule();
        return;
    case State::Waking:
        m_plan.due(now());
        take(QImage(), m_plan.fresh());
        return;
    case State::Live:
        take(QImage(), true);
        return;
    case State::Stopped:
        return;
    }
}

void PageRest::wake()
{
    m_state = State::Waking;
    m_plan.woke(now());
    m_browser->setFrameSignals(true);
    unhide();
    at(m_next);
}

void PageRest::pageAwake()
{
    if (m_state != State::Waking)
        return;
    // What the page shows now that it draws again: the next frame that
    // differs shows something it drew after the wake.
    try {
        m_baseline = m_hooks.grab();
    } catch (...) {
        m_baseline = QImage();
    }
    m_plan.drawn(now(), isFlatColour(m_baseline));
}

void PageRest::frameDrawn()
{
    if (m_state != State::Waking || !m_plan.comparing())
        return;
    QImage frame;
    try {
        frame = m_hooks.grab();
    } catch (...) {
        return; // the tick will try, and report it
    }
    const bool changed = m_baseline.isNull() || compareBlocks(frame, m_baseline).changed > 0;
    if (m_plan.frame(now(), changed, isFlatColour(frame)) == WakePlan::Step::Take)
        take(frame, true);
}

void PageRest::take(const QImage &picture, bool fresh)
{
    m_timer.stop();
    m_browser->setFrameSignals(false);
    m_baseline = QImage();
    m_state = State::Live;
    // The next tick; one the event loop missed altogether is dropped.
    const ms current = now();
    m_next += m_plan.interval();
    while (m_next <= current)
        m_next += m_plan.interval();
    m_hooks.tick(picture, fresh);
    // Unless the tick stopped the run.
    if (m_state == State::Live)
        schedule();
}

} // namespace framelog

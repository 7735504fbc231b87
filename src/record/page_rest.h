#pragma once

#include "capture/wake_plan.h"

#include <QImage>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace framelog {

class TBrowserControl;

// Pictures at least this far apart let the page rest between them
// (rest-between); closer ones keep it live. Below it a wake's lead and the
// page's catching up after it leave too little rest to be worth it.
inline constexpr qint64 kRestFromMs = 2000;

// A recorder camera's ticks with its page resting between them: after each
// picture the page is hidden, and one lead (WakePlan) before the next tick
// it is woken; once it has drawn again (PageAwake), the first frame that
// differs from what it showed then is the picture, or, at the tick, what it
// shows then. Ticks keep to
// the interval from start(), a picture is never later than its tick, and a
// tick the event loop missed altogether is dropped, as a timer's would be.
//
// The page is live until the first picture, and a load keeps it awake until
// the next tick: a loading page is seen drawn only while it draws.
class PageRest : public QObject {
    Q_OBJECT
public:
    using ms = std::chrono::milliseconds;

    struct Hooks {
        // What a picture would show now; may throw.
        std::function<QImage()> grab;
        // The tick: `picture` to write, or null to grab one; `fresh` false
        // when it may show the page as it was before the wake (WakePlan).
        std::function<void(const QImage &picture, bool fresh)> tick;
    };

    PageRest(TBrowserControl *browser, ms interval, Hooks hooks, QObject *parent = nullptr);
    ~PageRest() override;

    // The first tick one interval from now.
    void start();
    // No more ticks; the page is left awake.
    void stop();
    bool started() const { return m_state != State::Stopped; }

    const WakePlan &plan() const { return m_plan; }
    bool resting() const { return m_state == State::Resting; }
    static int hiddenPages() { return s_hidden; }

    // Below this much rest before a wake the page stays awake.
    static constexpr ms kShortestRest{250};
    // A page hidden for more than 5 minutes is throttled harder by the
    // engine (its timers run once a minute): a longer rest is broken by a
    // stretch awake this long.
    static constexpr ms kLongestRest{std::chrono::minutes(4)};
    static constexpr ms kStretch{1000};
    // The engine keeps the last frames of only five hidden pages: a page
    // woken after its frame was dropped shows its background alone until it
    // has drawn anew, which took over a second with ten pages. So at most
    // this many pages of the process rest at once; the others stay live.
    static constexpr int kMostHidden = 4;

private:
    enum class State { Stopped, Live, Resting, Stretching, Waking };
    static ms now();
    void schedule();
    void wake();
    void pageAwake();
    void frameDrawn();
    void take(const QImage &picture, bool fresh);
    void timeout();
    void at(ms when);
    void setAwake();
    void hide();
    void unhide();

    TBrowserControl *m_browser;
    Hooks m_hooks;
    WakePlan m_plan;
    QTimer m_timer;
    State m_state = State::Stopped;
    ms m_next{0};
    QImage m_baseline;
    bool m_hidden = false;
    // Pages of the process hidden now.
    static inline int s_hidden = 0;
};

} // namespace framelog

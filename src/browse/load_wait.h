#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

namespace framelog {

class TBrowserControl;

// Holds back a capture while the page is loading, so a picture never shows
// a page half drawn, blank or the old one during a reload. A tick asks
// mayCapture(); while a load runs or its page is not yet drawn the answer is
// no, and `ready` comes once, when the page is drawn or the limit ran out.
// Ticks that fall meanwhile are merged into that one capture.
//
// A load whose page is never drawn in time (a stream that keeps the page
// loading for ever) is waited for once: later ticks capture at once, until
// the next load starts.
class LoadWait : public QObject {
    Q_OBJECT
public:
    // A load already running when the wait is made counts as one to wait for.
    LoadWait(TBrowserControl *browser, std::chrono::milliseconds limit, QObject *parent = nullptr);

    std::chrono::milliseconds limit() const { return m_limit; }

    // A tick: true when it may capture now. False when it must wait for
    // `ready`; a tick while one waits already is merged into it.
    bool mayCapture();
    bool waiting() const { return m_state == State::Waiting; }
    // Ticks merged into the held one so far.
    int mergedTicks() const { return m_merged; }
    // The run stopped: a held capture is dropped without `ready`.
    void cancel();

signals:
    // The held capture may go ahead: the page is drawn, or, `timedOut`, the
    // limit ran out first.
    void ready(bool timedOut);

private:
    enum class State { Drawn, Loading, Waiting, GaveUp };
    void loadStarted();
    void pageDrawn();
    void timedOut();

    std::chrono::milliseconds m_limit;
    QTimer m_timer;
    State m_state = State::Drawn;
    int m_merged = 0;
};

// "Page not drawn within 10 s, picture taken anyway": what the log says when
// a held capture ran out of time.
QString loadWaitTimedOutText(std::chrono::milliseconds limit);

} // namespace framelog

#pragma once

#include "capture/capture_session.h"
#include "capture/frame_watch.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <deque>
#include <functional>
#include <utility>

namespace framelog {

// One capture run's frame watch between a capture session and its front
// end (the window, a recorder camera): the session's judge, the outcome of
// each written picture fed back in tick order, and the run's summary. The
// front end does what a verdict asks (reload, reports, the skipped count).
//
// A tick that fails before its picture can be judged (the grab) still takes
// a number; its result is a failure of the run that the watch was never
// asked about, so results are paired with the ticks that numbered them.
class RunWatch {
public:
    struct Hooks {
        // The run is stalled and asks for the page to be reloaded.
        std::function<void()> reload;
        // A text for the status bar and the log ("Stalled since 14:03:07").
        std::function<void(const QString &text)> report;
        // A picture was not written: the run's skipped pictures so far.
        std::function<void(qint64 skipped)> skipped;
    };

    // Throws EPropertyError for options FrameWatch refuses.
    RunWatch(FrameWatchOptions options, Hooks hooks);

    // For CaptureSession::setJudge: true when the picture is to be written.
    bool judge(const QImage &picture);
    // From the front end's `numbered` and `done`, for every tick.
    void numbered(qint32 number);
    void done(const TickResult &result);

    // The run's totals, the failures as the session counted them.
    FrameTotals totals(const RunFailures &failures) const;
    // "Run ended: ..." for the log.
    QString summary(const RunFailures &failures) const;
    qint64 skipped() const { return m_watch.totals(clock()).skipped; }
    bool stalled() const { return m_watch.stalled(); }
    QDateTime stalledSince() const { return m_watch.stalledSince(); }

    // The time pictures are judged at; the wall clock outside tests.
    std::function<QDateTime()> clock = &QDateTime::currentDateTime;

private:
    FrameWatch m_watch;
    Hooks m_hooks;
    // A picture judged to be written waits for its number.
    bool m_judgedToWrite = false;
    // The numbered ticks not yet reported, in order: judged or not.
    std::deque<bool> m_judged;
};

} // namespace framelog

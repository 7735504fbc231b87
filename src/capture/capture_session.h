#pragma once

#include "capture/capture_run.h"
#include "capture/pattern_names.h"
#include "capture/picture_writer.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <optional>

namespace framelog {

// What one tick came to, reported to its front end.
struct TickResult {
    using Fate = WriteResult::Fate;
    qint32 number = 0;
    // Empty when the tick ended before its picture was named.
    QString fileName;
    Fate fate = Fate::Failed;
    // Failed: the message the error box shows (before its "." rule).
    QString error;
    // From the tick's start until the file was on disk or the failure known.
    qint64 ms = 0;
    // The writer's own time: encoding and writing.
    qint64 writeMs = 0;
};

// One line of a run's log, the same for the window and the recorder: local
// time with milliseconds and its offset, who took the picture, what became
// of it and how long it took. Line breaks in `what` are flattened.
// "2026-12-08T14:05:09.512+01:00 gate #12 /srv/cam/img12.jpg (41 ms)"
QString runLogLine(const QDateTime &when, const QString &source, const QString &what, qint64 ms);
// The `what` of a picture: "#12 NAME", "#12 skipped, exists: NAME" or
// "#12 failed: MESSAGE"; "#12 NAME, replacing #7" when it was written under
// the name of picture 7 of the same run.
QString tickLogText(const TickResult &result, std::optional<qint32> replaces = std::nullopt);

// The capture tick of a front end (the window, the recorder), without a
// window: the run's counter and names, its failures, and a writer thread.
// A tick raises the counter (numbered), takes the picture (grab), names it
// (name) and hands it to the writer, so encoding and writing happen off the
// front end's thread. What became of each tick comes back to `done` on this
// object's thread in tick order, also for a tick that ended before its
// picture was written (it waits for the ticks before it); a failure with
// nothing before it in flight is reported before tick() returns.
class CaptureSession : public QObject {
    Q_OBJECT
public:
    struct FrontEnd {
        // The counter rose: the picture has this number.
        std::function<void(qint32 number)> numbered;
        // The picture, a fresh image each tick that nothing draws into
        // later (the writer reads it while the next is grabbed); throws when
        // none can be taken.
        std::function<QImage()> grab;
        // The picture's file name; the front end may show it.
        std::function<QString()> name;
        std::function<bool()> overwrite;
        // What became of a tick, in tick order.
        std::function<void(const TickResult &)> done;
        // Optional: judges a picture before it takes a number. When set, a
        // tick grabs first and only a picture judged worth writing raises
        // the counter, is named and written; a grab that fails still takes a
        // number and fails. Unset, the tick raises the counter first.
        std::function<bool(const QImage &)> judge;
    };

    // How long quitting waits for the pictures in flight before it drops
    // the ones still waiting.
    static constexpr int kQuitWaitMs = 2000;

    explicit CaptureSession(FrontEnd frontEnd, QObject *parent = nullptr,
                            int ceiling = PictureWriter::kDefaultCeiling);
    // Waits up to kQuitWaitMs for the pictures in flight, drops those still
    // waiting, lets the one in hand finish; what became of them only goes to
    // the log.
    ~CaptureSession() override;

    CaptureRun &run() { return m_run; }
    const CaptureRun &run() const { return m_run; }
    // The judge for the ticks from now on (FrontEnd::judge); empty: none,
    // and the counter rises first again.
    void setJudge(std::function<bool(const QImage &)> judge)
    {
        m_frontEnd.judge = std::move(judge);
    }
    RunFailures &failures() { return m_failures; }
    // Tells the pictures written under the name of an earlier picture of
    // the run in their log lines (tickLogText) and counts them; off by
    // default. A new run starts remembering afresh.
    void rememberNames(bool on);
    qint64 replaced() const { return m_replaced; }
    PictureWriter &writer() { return m_writer; }

    // The log: every result with its line; `logName` is who took it.
    // Default: failures to standard error.
    QString logName = QStringLiteral("Framelog");
    std::function<void(const TickResult &result, const QString &line)> log;

    // One tick. Throws only what `numbered` throws.
    void tick();

    // Waits until every picture handed over is written (or failed) and its
    // result reported, or until the deadline; then the pictures still
    // waiting are dropped and reported as failed (runEndedFirstText), and
    // the one in hand is finished. True when none was dropped.
    bool finishPictures(QDeadlineTimer deadline = QDeadlineTimer(30000));
    // A new run: the last one's pictures are finished first (within
    // kQuitWaitMs), so that its failures are not counted in this one.
    void startRun();

    // Ticks not yet reported: in the writer, or waiting for earlier ones.
    int pending() const { return int(m_tickets.size()); }

private:
    struct Ticket {
        quint64 id = 0; // the writer's, 0 when it never got there
        qint32 number = 0;
        QString fileName;
        std::optional<TickResult> result;
    };
    void submit(qint32 number, QImage picture, const QElapsedTimer &since);
    void fail(qint32 number, const QString &fileName, const QString &error,
              const QElapsedTimer &since);
    // Called by the writer's thread: results are ready.
    void wakeUp();
    // Reports, in tick order, every tick whose result is known.
    void deliver();
    void collect(std::vector<WriteResult> results);
    void writeLog(const TickResult &result, std::optional<qint32> replaces);

    FrontEnd m_frontEnd;
    CaptureRun m_run;
    RunFailures m_failures;
    std::optional<RunNames> m_names;
    qint64 m_replaced = 0;
    std::deque<Ticket> m_tickets;
    std::atomic<bool> m_wakePosted = false;
    PictureWriter m_writer; // last: its thread ends before the rest goes
};

} // namespace framelog

#pragma once

#include "capture/capture_run.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QImage>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace framelog {

// What became of one picture handed to the writer.
struct WriteResult {
    enum class Fate { Written, Skipped, Failed };
    quint64 id = 0;
    Fate fate = Fate::Failed;
    // Failed: the message the error box shows (before its "." rule).
    QString error;
    // From the tick's start until the file was on disk or the failure known.
    qint64 ms = 0;
    // The writer's own time for the picture: encoding and writing.
    qint64 writeMs = 0;
};

// Encodes and writes the pictures of a run on a thread of its own, one after
// another in the order they were handed over, so the window thread only
// grabs. Because one picture is written after the other, a later picture
// under the name of an earlier one sees that one's file: with overwriting
// off a picture still being written counts as existing.
//
// At most `ceiling` pictures are in flight: the one being written and those
// waiting. When writing falls behind, the oldest waiting picture gives way to
// the new one and is reported as failed (fellBehindText): the newest picture
// is the one worth having, and a constant name ("live.jpg") gets it sooner.
//
// Results are collected by take(), on any thread; `wake` runs (on the
// writer's thread, or on the one that handed a picture over) whenever new
// results are ready.
class PictureWriter {
public:
    // Writes one picture, or skips it; may throw. CaptureRun::save by default.
    using Write =
        std::function<CaptureRun::Fate(const QImage &picture, const QString &name, bool overwrite)>;
    static constexpr int kDefaultCeiling = 4;

    explicit PictureWriter(std::function<void()> wake, int ceiling = kDefaultCeiling);
    // Drops the waiting pictures unreported, lets the one in hand finish
    // (its temporary file never outlives a failure) and ends the thread.
    ~PictureWriter();
    PictureWriter(const PictureWriter &) = delete;
    PictureWriter &operator=(const PictureWriter &) = delete;

    // For tests, before the first picture: stands in for the write.
    void setWrite(Write write);

    // Hands a picture over; `since` is when its tick began. Returns its id:
    // ids rise by one per picture, from 1.
    quint64 submit(QImage picture, QString fileName, bool overwrite, QElapsedTimer since);

    // The results so far, each once.
    std::vector<WriteResult> take();

    // Waits until no picture is in flight; false when the deadline came
    // first.
    bool waitIdle(QDeadlineTimer deadline);
    // The waiting pictures go unwritten, reported as failed with `reason`;
    // the one in hand is finished.
    void abandonWaiting(const QString &reason);

    int inFlight() const;
    int ceiling() const { return m_ceiling; }

private:
    struct Job {
        quint64 id;
        QImage picture;
        QString fileName;
        bool overwrite;
        QElapsedTimer since;
    };
    void run();
    void dropFront(const QString &reason); // with m_mutex held

    const std::function<void()> m_wake;
    const int m_ceiling;
    Write m_write;

    mutable std::mutex m_mutex;
    std::condition_variable m_work; // a job is waiting, or quit
    std::condition_variable m_idle; // a job ended
    std::deque<Job> m_waiting;
    std::vector<WriteResult> m_done;
    quint64 m_lastId = 0;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread; // last: starts once everything above exists
};

// The failure of a picture that gave way to newer ones.
QString fellBehindText();
// The failure of a picture still waiting when its run had to end.
QString runEndedFirstText();

} // namespace framelog

#pragma once

#include "capture/picture_writer.h"
#include "record/retention.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace framelog {

struct Recipe;

// Free bytes for an unprivileged user on the disk of `folder` (statvfs);
// nothing when it cannot be told.
std::optional<qint64> freeBytesAt(const QString &folder);

// The folder whose disk holds a pattern's pictures: the pattern's folder
// part up to its first placeholder, made absolute, or its nearest existing
// parent ("/srv/cam/%isodate%/x.jpg": /srv/cam).
QString patternRootFolder(const QString &pattern);

// A record that fits its disk: keeps the list of the pictures it wrote,
// removes its oldest ones as the recipe's keep-days, keep-size and
// keep-count say, and pauses the pictures while free space is below the
// recipe's min-free floor. All its work (the journal, removals, looking at
// free space) runs on a thread of its own, so a tick never waits for it: a
// tick only reads whether pictures are paused.
//
// Below the floor the keeper first lets retention work (its limits, at
// once), then pauses: one line "disk nearly full: 1.9 GiB free, pictures
// paused"; it looks again every second and resumes, with one line, once
// free space is back above the floor by a twentieth of it (so a disk at
// the edge does not flip every tick).
class PictureKeeper {
public:
    struct Options {
        RetentionLimits limits;
        std::optional<qint64> minFree;
        // The record's pattern, as the recipe gives it.
        QString pattern;
        // Empty: retentionJournalPath of the pattern.
        QString journalPath;
        std::function<qint64()> clockMs;                  // default: wall clock
        std::function<std::optional<qint64>()> freeBytes; // default: freeBytesAt
        // A line for the log, from the keeper's thread; `trouble`: kept by --quiet.
        std::function<void(const QString &line, bool trouble)> report;
        // How often free space is looked at while paused.
        int pausedPollMs = 1000;
    };

    // Opens the journal (throws ERetention), looks at free space once, and
    // starts the thread, which first drops the pictures removed by hand.
    explicit PictureKeeper(Options options);
    // Handles what is queued, then ends the thread.
    ~PictureKeeper();
    PictureKeeper(const PictureKeeper &) = delete;
    PictureKeeper &operator=(const PictureKeeper &) = delete;

    // Any thread (the writer's): a picture was written under `fileName`.
    void wrote(const QString &fileName);
    // The tick's question: are pictures paused? A paused tick is counted.
    bool pauseTick();
    bool paused() const { return m_paused; }

    // Waits until everything handed over so far is handled (tests, the end).
    void settle();

    qint64 written() const { return m_written; }
    qint64 pausedTicks() const { return m_pausedTicks; }
    qint64 removed() const { return m_removed; }
    // ", 12 paused, 340 removed" for the run's summary: the parts that are
    // not 0, or with a floor the paused count always.
    QString summaryNotes() const;

    // The writer's write: the pattern's missing folders are made, then the
    // picture saved as always; a written one is handed to `keeper` (none:
    // just the folders).
    static PictureWriter::Write write(PictureKeeper *keeper);

private:
    void run();
    void lookAtFreeSpace(std::unique_lock<std::mutex> &lock);

    void enforce();
    void say(const QString &line, bool trouble);

    Options m_options;
    std::unique_ptr<Retention> m_retention;

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_settled;
    struct Written {
        QString path;
        qint64 ms;
        std::optional<PictureStamp> stamp;
    };
    void handle(const Written &written);
    std::deque<Written> m_queue;
    bool m_busy = false;
    bool m_quit = false;
    bool m_failedOnce = false;

    std::atomic<bool> m_paused = false;
    std::atomic<qint64> m_written = 0;
    std::atomic<qint64> m_pausedTicks = 0;
    std::atomic<qint64> m_removed = 0;
    std::thread m_thread; // last
};

// --dry-run-retention for one recipe: fills `paths` with the pictures that
// would go now, oldest first, and returns the line that sums them up.
// Nothing is removed or changed. Throws ERetention.
QString retentionDryRun(const Recipe &recipe, qint64 nowMs, QStringList &paths);

} // namespace framelog

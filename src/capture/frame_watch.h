#pragma once

#include "capture/frame_compare.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>

#include <chrono>
#include <deque>
#include <optional>

namespace framelog {

// What a run does about pictures that are not worth keeping. Everything is
// off by default: then every picture is written, as it always was.
struct FrameWatchOptions {
    enum class OnStall { Log, Reload };

    // A picture whose share of changed 8x8 blocks against the last written
    // picture of the run is at most this is not written: 0 skips only
    // identical pixels. At least 0 and below 1; empty: off.
    std::optional<double> skipUnchanged;
    // A run whose pictures stay unchanged or one flat colour this long is
    // stalled. Unchanged: by the threshold above against the last written
    // picture, or, with skipping off, identical pixels to the picture
    // before; a flat picture is never the one compared with. Above 0;
    // empty: off.
    std::optional<std::chrono::milliseconds> stallAfter;
    // Log only, or also reload the page (at most once per stall period).
    OnStall onStall = OnStall::Log;

    bool any() const { return skipUnchanged.has_value() || stallAfter.has_value(); }
};

// A run's tally, for its summary line.
struct FrameTotals {
    qint64 written = 0;
    qint64 skipped = 0;
    qint64 failed = 0;
    qint64 stalls = 0;
    qint64 stalledMs = 0; // an ongoing stall counts up to the time asked for
};

// What to do with one picture.
struct FrameVerdict {
    // False: the picture is not written and its tick takes no number.
    bool write = true;
    // Reload the page now: the run is stalled and asks to be healed.
    bool reload = false;
    // Set on the picture that shows the run stalled (once per stall): the
    // time of the stall's first picture.
    std::optional<QDateTime> stalledSince;
    // Set on the changed picture that ends a stall: the stall's length.
    std::optional<qint64> stallEndedAfterMs;
    // The texts for the log and the status bar, in order.
    QStringList reports;
};

// Watches the pictures of one capture run: decides whether each is worth
// writing, notices a page that stopped changing or went one flat colour, and
// keeps the run's totals. One watch per run: a new run compares with nothing
// and starts its totals at 0.
//
// A tick with any option on takes its picture first and asks judge() before
// the counter rises; only a picture to write raises the counter, gets its
// name and is saved, and the tick then reports written() or failed(). With
// every option off judge() compares nothing and always writes, so the tick
// may keep its old order (counter first) and only report the outcome.
//
// The watch keeps the last written picture by value: a QImage shares its
// pixels, and a capture bitmap is never drawn into after its grab, so this
// costs no copy, only that picture's memory until the next one is written.
class FrameWatch {
public:
    // Throws EPropertyError for a threshold outside [0, 1) or a stall time
    // that is not above 0.
    explicit FrameWatch(FrameWatchOptions options = {});

    const FrameWatchOptions &options() const { return m_options; }

    // Judges `picture`, taken at `at` (local time; stall lengths follow it).
    FrameVerdict judge(const QImage &picture, const QDateTime &at);
    // What became of the oldest picture judged to be written and not yet
    // reported: reports come in the order of the judging, and may come after
    // later pictures were judged (a writer thread writes them meanwhile).
    // Written: with skipping on it is the one later pictures are compared
    // with.
    void written();
    // Not written (its write failed, or its name was taken): later pictures
    // are compared with the last one written. Failures themselves are
    // counted by the run (RunFailures), not here.
    void failed();

    bool stalled() const { return m_stalled; }
    // While stalled, the time of the stall's first picture; else null.
    QDateTime stalledSince() const { return m_stalled ? *m_staleSince : QDateTime(); }
    // The totals so far, failed left at 0; an ongoing stall counts up to
    // `now`.
    FrameTotals totals(const QDateTime &now) const;

private:
    // A picture judged to be written, until its outcome is reported.
    struct Pending {
        QImage picture; // while skipping
        bool flat = false;
    };
    // What a picture is compared with for skipping: the newest picture
    // handed over to be written, else the last written. A picture still in
    // flight counts as written, so a frozen page is not written twice while
    // its first picture is on its way; should it fail, the comparison falls
    // back to the last written one.
    QImage skipReference() const;
    // What a stall compares with while skipping: the same, never flat.
    QImage stallReference() const;

    FrameWatchOptions m_options;
    QImage m_written;      // the last written picture, while skipping
    QImage m_writtenSolid; // the last written one not flat, while skipping
    QImage m_previous;     // skipping off: the picture before, never flat
    std::deque<Pending> m_pending;
    std::optional<QDateTime> m_staleSince;
    bool m_stalled = false;
    QDateTime m_lastReload;
    FrameTotals m_totals;
};

// The exact texts, shared by the window's status bar and the recorder's log
// (lengths as core/length_text.h writes them).
// "Stalled since 14:03:07"
QString stalledSinceText(const QDateTime &since);
// "Reloading the page"
QString stallReloadText();
// "Stall ended after 5 min 12 s"
QString stallEndedText(qint64 ms);
// "3 skipped": the run's skipped pictures, for the status line.
QString skippedText(qint64 skipped);
// "Run ended: 120 written, 3400 skipped, 2 failed, 2 stalls lasting 1 h 3 min 5 s"
QString runSummaryText(const FrameTotals &totals);

} // namespace framelog

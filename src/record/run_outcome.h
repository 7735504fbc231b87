#pragma once

#include "record/record_options.h"

#include <QString>

#include <optional>

namespace framelog {

// framelog-record's exit statuses.
enum RecordExit : int {
    kExitAllWritten = 0,  // no picture failed (skipped ones included)
    kExitCannotStart = 1, // the browser engine or the signals
    kExitBadInput = 2,    // an option or recipe
    kExitSomeFailed = 3,  // pictures were written, and some failed
    kExitNoneWritten = 4, // not one picture written (none skipped either)
};

// What became of a run's pictures, one camera's or all of them.
struct RunTally {
    qint64 written = 0;
    // Not written, as asked: the name was taken, or the picture unchanged.
    qint64 skipped = 0;
    qint64 failed = 0;

    RunTally &operator+=(const RunTally &other)
    {
        written += other.written;
        skipped += other.skipped;
        failed += other.failed;
        return *this;
    }
};

// The exit status for a run that ended (its count, its time, a signal):
// 0 when nothing failed and something was written or skipped as asked, 3
// when some pictures failed and others were written, 4 when no picture was
// written or skipped, whether they all failed, the page never gave one or
// the run ended before the first.
int recordExitStatus(const RunTally &tally);

// How long a job can run at most, by --count and --for; none: until it is
// stopped.
std::optional<qint64> longestRunMs(const RecordPlan &plan, const RecordJob &job);

// Throws ERecipe naming both when two jobs' patterns can give the same
// file: the pictures of one would replace the other's.
void checkSharedNames(const QList<RecordJob> &jobs);

} // namespace framelog

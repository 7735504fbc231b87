#pragma once

#include "core/exception.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

namespace framelog {

struct Recipe;

// The record's list of its pictures cannot be opened, read or written.
class ERetention : public Exception {
public:
    using Exception::Exception;
};

// How much of its own pictures a record keeps; each unset: no limit.
struct RetentionLimits {
    std::optional<int> keepDays;
    std::optional<qint64> keepBytes;
    std::optional<qint64> keepCount;

    bool any() const { return keepDays || keepBytes || keepCount; }
    static RetentionLimits of(const Recipe &recipe);
};

// What the disk says of a picture just written, so that a later removal can
// tell that the file under its name is still that picture.
struct PictureStamp {
    qint64 bytes = 0;
    quint64 inode = 0;
    qint64 mtimeNs = 0;
    friend bool operator==(const PictureStamp &, const PictureStamp &) = default;
};
// The stamp of the regular file at `path` (a link is not followed: a link
// is never a picture of ours); nothing when there is none.
std::optional<PictureStamp> stampOf(const QString &path);

// The pictures one record wrote, oldest first, and the rules that remove
// them. The list lives in an append-only journal: one line per picture
// written ("W ms bytes inode mtime path") and one per picture gone ("R
// offset-of-its-W-line"), so each picture costs one append. When most
// lines are dead the journal is rewritten whole (temporary file, rename),
// which keeps the cost O(1) amortised. A crash loses at most the line being
// written: a torn last line is dropped, and a picture whose line was lost
// is simply never removed.
//
// A picture is removed only while the file under its name is the one this
// record wrote (a regular file of the same inode, size and modification
// time); another file, even one whose name fits the pattern, a link, or a
// picture changed since, is left alone and no longer counted. In memory
// each picture takes a few dozen bytes: its path stays in the journal.
//
// Not thread-safe: one thread (the keeper's) uses it.
class Retention {
public:
    // Opens the journal at `journalPath` (made, with its folder, when
    // missing) and reads it; `pattern` is written into a new journal's
    // first line for people who look. Read-only: nothing is made or
    // changed, and a missing journal is an empty list. Throws ERetention.
    Retention(const QString &journalPath, const QString &pattern, RetentionLimits limits,
              bool readOnly = false);
    ~Retention();
    Retention(const Retention &) = delete;
    Retention &operator=(const Retention &) = delete;

    // A picture this record wrote at `writtenMs` (ms since the epoch); a
    // path already listed is a picture replaced: the old entry goes, unremoved.
    void add(const QString &absolutePath, qint64 writtenMs, const PictureStamp &stamp);

    struct Removal {
        QString path;
        qint64 bytes = 0;
        // False: the file under the name was no longer this record's (or
        // could not be removed, see `error`); it is only dropped from the list.
        bool removed = false;
        QString error;
    };
    // Removes, oldest first, what the limits say must go at `nowMs`. A dry
    // run removes nothing and changes nothing, and lists what would go.
    std::vector<Removal> enforce(qint64 nowMs, bool dryRun = false);
    // Drops the pictures whose file is gone or no longer this record's
    // (removed by hand since): they no longer count. Returns how many.
    qint64 audit();

    qint64 count() const { return m_count; }
    qint64 bytes() const { return m_bytes; }
    // When the oldest picture falls out of keep-days; none without one.
    std::optional<qint64> nextExpiryMs() const;
    const QString &journalPath() const { return m_journalPath; }
    // Lines in the journal, live or dead (for tests and the benchmark).
    qint64 journalLines() const { return m_lines; }

private:
    struct Entry {
        qint64 offset; // of its W line in the journal
        qint64 writtenMs;
        PictureStamp stamp;
        quint64 pathHash;
        bool alive;
    };
    void readJournal(const QByteArray &text);
    void append(const QByteArray &line);
    Entry *findByOffset(qint64 offset);
    QString pathAt(qint64 offset) const;
    // The journal as it stands, read whole.
    QByteArray journalText() const;
    void drop(Entry &entry, bool writeLine);
    void popDeadFront();
    void compactIfWorthIt();
    bool dueAt(qint64 nowMs, qint64 count, qint64 bytes, const Entry &oldest) const;

    QString m_journalPath;
    QByteArray m_header;
    RetentionLimits m_limits;
    bool m_readOnly;
    int m_fd = -1;
    int m_lockFd = -1;
    qint64 m_size = 0; // the journal's length in bytes
    qint64 m_lines = 0;
    std::deque<Entry> m_entries;                  // by offset, the dead ones too
    std::unordered_map<quint64, qint64> m_byPath; // path hash -> offset of the live entry
    qint64 m_count = 0;
    qint64 m_bytes = 0;
};

// Where a record's journal lives: $XDG_STATE_HOME/framelog/retention (by
// default ~/.local/state/...), named after the pattern made absolute, so a
// record keeps its pictures across restarts and another pattern is another
// record.
QString retentionJournalPath(const QString &absolutePattern);
// `pattern` made absolute against the current directory.
QString absolutePattern(const QString &pattern);

} // namespace framelog

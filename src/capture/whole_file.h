#pragma once

#include "core/exception.h"

#include <QByteArray>
#include <QString>

namespace framelog {

// An output file could not be created or written.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// "Cannot create file "<full path>". <reason>"
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// "Cannot write file "<full path>". <system text>": the disk took less than
// the whole picture. The file under the final name is left as it was.
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// Replaces the content of one file as a whole: a reader of the name sees the
// old content or the new one, never a part, and a failure leaves the old
// content (or no file) behind.
//
// The constructor finds where the content goes and checks that it can go
// there, creating nothing: a symbolic link at the name is followed to its
// final target (which may not exist yet) only where the kernel would follow
// it for this user, so a link another user planted in a sticky
// world-writable folder (fs.protected_symlinks) is refused with the kernel's
// own "Permission denied"; the user's own links keep being written through.
// commit() then creates a temporary file beside the target, readable by the
// user alone and locked (flock) while it lives, writes the data, flushes it
// to the disk (fdatasync), gives it the final file's mode and renames it
// over the target: after a power cut the name holds the old picture or the
// new one, never an empty file. Until commit() succeeds, the temporary file
// is removed. Nothing here touches a widget, so it may run on any thread.
//
// Errors name the file as the caller gave it, made absolute. A FIFO, socket
// or device at the name or behind a link is never opened: "Not a regular
// file". A new file gets the permissions a plain create gives (0666 less the
// umask); a replaced one keeps its permission bits.
//
// The first time the process writes into a folder, the temporary files a
// killed process left there are removed first (removeStaleTemporaries);
// ones too young to tell are removed by a later write, once they have aged.
class WholeFileWriter {
public:
    explicit WholeFileWriter(const QString &fileName);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter &) = delete;
    WholeFileWriter &operator=(const WholeFileWriter &) = delete;

    void commit(const QByteArray &data);

    // The temporary file's name in the target's folder: hidden, never ending
    // in a picture's extension, and holding a DEL character, which the file
    // name pattern replaces in every name it makes (and which FAT, NTFS and
    // SMB all accept): a leftover after a crash is never taken for a picture.
    static bool isTemporaryName(const QString &name);

    // Removes the temporary files of this naming in `folder` that belong to
    // this user, that no writer holds (one still being written is locked by
    // its writer) and that nothing wrote to for kStaleAfterS (a lock on a
    // network file system may hold on one machine only); returns how many
    // went, and counts in `young` the unheld ones left for their age. Links
    // and other kinds of file are left alone.
    static constexpr int kStaleAfterS = 600;
    static int removeStaleTemporaries(const QString &folder, int *young = nullptr);

    // For tests: runs in commit() when the temporary file is created, and
    // when it is whole (written, flushed, with its final mode) before the
    // rename.
    enum class Stage { Created, Whole };
    static void setTestHook(void (*hook)(Stage stage, const QByteArray &temporary));

private:
    QString m_fileName;  // as the caller gave it, for messages
    QByteArray m_target; // the final target, links followed
    bool m_replaces = false;
    unsigned m_mode = 0; // permission bits of the file replaced
};

// The writer's temporary file, for a writer that fills it by itself (the
// film encoder opens it by name): made in `folder` under the writer's
// naming, readable by the user alone, and locked while this object lives,
// so that no sweep of leftovers, in this process or another, takes it while
// it is written. Removed unless renamed. Errors name `fileName`, the final
// file as the caller gave it; making it sweeps the folder as a first write
// does.
class TemporaryFile {
public:
    // Throws EFCreateError.
    TemporaryFile(const QByteArray &folder, const QString &fileName);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    const QByteArray &path() const { return m_path; }
    int fd() const { return m_fd; }

    // Gives it `mode` (best effort: FAT has none) and flushes its data to
    // the disk. Throws EWriteError, the file removed.
    void makeWhole(unsigned mode);
    // Renames it to `target` and lets go of it. Throws EFCreateError, the
    // file removed.
    void renameTo(const QByteArray &target);
    void discard() noexcept;

private:
    QString m_fileName;
    QByteArray m_path; // empty once renamed or removed
    int m_fd = -1;
};

// The permission bits a plain create gives a new file now: 0666 less the
// umask.
unsigned newFileMode();

// The name as messages show it: absolute, a relative name taken against the
// current directory, otherwise as it was tried (a trailing "/" stays).
QString fullPathForMessage(const QString &fileName);

// The system's text for an errno value, fit to stand inside a sentence.
QString systemErrorText(int code);

} // namespace framelog

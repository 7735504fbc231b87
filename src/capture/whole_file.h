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
// The constructor finds where the content goes (a symbolic link at the name
// is followed to its final target, which may not exist yet) and creates a new
// temporary file in that folder; commit() writes the data into it and
// renames it over the target. Until commit() succeeds, the destructor removes
// the temporary file. Nothing here touches a widget, so it may run on any
// thread.
//
// Errors name the file as the caller gave it, made absolute. A FIFO, socket
// or device at the name or behind a link is never opened: "Not a regular
// file". A new file gets the permissions a plain create gives (0666 less the
// umask); a replaced one keeps its permission bits.
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

private:
    void discard() noexcept;

    QString m_fileName;     // as the caller gave it, for messages
    QByteArray m_target;    // the final target, links followed
    QByteArray m_temporary; // empty once renamed or removed
    int m_fd = -1;
    bool m_replaces = false;
    unsigned m_mode = 0; // permission bits of the file replaced
};

// The name as messages show it: absolute, a relative name taken against the
// current directory, otherwise as it was tried (a trailing "/" stays).
QString fullPathForMessage(const QString &fileName);

// The system's text for an errno value, fit to stand inside a sentence.
QString systemErrorText(int code);

} // namespace framelog

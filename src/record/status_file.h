#pragma once

#include "record/record_status.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace framelog {

// The folder where running recorders keep their status files:
// $XDG_RUNTIME_DIR/framelog; without the variable, /run/user/UID/framelog
// when the user has that folder, else under Qt's private fallback.
QString statusDirectory();

// One running recorder as its status file holds it.
struct RecorderStatus {
    qint64 pid = 0;
    QDateTime updated;
    QList<RecipeStatus> recipes;
};

QByteArray statusFileText(const RecorderStatus &status);
// Throws nothing; a file that does not read gives no recipes.
RecorderStatus statusFromText(const QByteArray &text);

// A recorder's status file, record-PID.json in `directory`, replaced whole
// on every write so that a reader never sees a part. Beside it,
// record-PID.lock stays locked for the life of the process: a status file
// whose lock is free belongs to a recorder that is gone (killed by the
// watchdog, say) and is not read.
class StatusFile {
public:
    explicit StatusFile(QString directory = statusDirectory(), qint64 pid = 0);
    // Removes both files.
    ~StatusFile();
    StatusFile(const StatusFile &) = delete;
    StatusFile &operator=(const StatusFile &) = delete;

    // False (with the reason in error()) when the folder or the lock
    // cannot be made; writes are then skipped.
    bool open();
    // False when the file could not be replaced.
    bool write(const RecorderStatus &status);
    const QString &error() const { return m_error; }
    QString path() const;

private:
    QString m_directory;
    qint64 m_pid;
    int m_lock = -1;
    QString m_error;
};

// The status of every recorder running now whose file is in `directory`,
// by process id; the files of recorders that are gone are removed.
QList<RecorderStatus> readRunningRecorders(const QString &directory = statusDirectory());

} // namespace framelog

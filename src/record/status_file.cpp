#include "record/status_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace framelog {

namespace {

const QString kPrefix = QStringLiteral("record-");

QString lockPath(const QString &directory, qint64 pid)
{
    return QStringLiteral("%1/%2%3.lock").arg(directory, kPrefix).arg(pid);
}

QString jsonPath(const QString &directory, qint64 pid)
{
    return QStringLiteral("%1/%2%3.json").arg(directory, kPrefix).arg(pid);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Whether the file at `path` is the one `fd` has open: a lock taken on a
// file that a reader has meanwhile removed as stale protects nothing.
bool sameFile(int fd, const QString &path)
{
    struct stat open = {};
    struct stat named = {};
    return fstat(fd, &open) == 0 && stat(QFile::encodeName(path).constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Whether a live recorder holds the lock of `pid`. A lock we can take
// ourselves has been let go: its files are removed while we hold it, so a
// recorder just starting with the same number is not robbed of its own.
bool alive(const QString &directory, qint64 pid)
{
    const QString lock = lockPath(directory, pid);
    const int fd = ::open(QFile::encodeName(lock).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool gone = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (gone && sameFile(fd, lock)) {
        QFile::remove(jsonPath(directory, pid));
        QFile::remove(lock);
    }
    ::close(fd);
    return !gone;
}

} // namespace

QString statusDirectory()
{
    // A monitor started by cron or sudo often lacks XDG_RUNTIME_DIR while
    // the user's service has it: the folder systemd makes is the same one.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString run = QStringLiteral("/run/user/%1").arg(getuid());
        struct stat info = {};
        if (lstat(QFile::encodeName(run).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
            info.st_uid == getuid())
            return run + QStringLiteral("/framelog");
    }
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/framelog");
}

QByteArray statusFileText(const RecorderStatus &status)
{
    QJsonArray recipes;
    for (const RecipeStatus &recipe : status.recipes)
        recipes.append(recipe.toJson());
    const QDateTime updated = status.updated.toOffsetFromUtc(status.updated.offsetFromUtc());
    return QJsonDocument(QJsonObject{
                             {QStringLiteral("pid"), status.pid},
                             {QStringLiteral("updated"), updated.toString(Qt::ISODateWithMs)},
                             {QStringLiteral("recipes"), recipes},
                         })
        .toJson(QJsonDocument::Compact);
}

RecorderStatus statusFromText(const QByteArray &text)
{
    RecorderStatus status;
    const QJsonObject object = QJsonDocument::fromJson(text).object();
    status.pid = object.value(QStringLiteral("pid")).toInteger();
    status.updated = QDateTime::fromString(object.value(QStringLiteral("updated")).toString(),
                                           Qt::ISODateWithMs);
    for (const QJsonValue recipe : object.value(QStringLiteral("recipes")).toArray())
        status.recipes << RecipeStatus::fromJson(recipe.toObject());
    return status;
}

StatusFile::StatusFile(QString directory, qint64 pid)
    : m_directory(std::move(directory)), m_pid(pid ? pid : qint64(getpid()))
{
}

StatusFile::~StatusFile()
{
    if (m_lock < 0)
        return;
    QFile::remove(path());
    QFile::remove(lockPath(m_directory, m_pid));
    ::close(m_lock);
}

QString StatusFile::path() const
{
    return jsonPath(m_directory, m_pid);
}

bool StatusFile::open()
{
    if (m_lock >= 0)
        return true;
    // Only its user reads what the recorder is doing.
    if (!QDir().mkpath(m_directory)) {
        m_error = QStringLiteral("cannot make the folder %1").arg(m_directory);
        return false;
    }
    QFile::setPermissions(m_directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString lock = lockPath(m_directory, m_pid);
    // A reader that found an old lock of this number free removes it while
    // holding it: then the lock is taken again on a new file.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd =
            ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            break;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            break;
        }
        if (sameFile(fd, lock)) {
            m_lock = fd;
            return true;
        }
        ::close(fd);
    }
    m_error = QStringLiteral("cannot lock %1: %2").arg(lock, systemError());
    return false;
}

bool StatusFile::write(const RecorderStatus &status)
{
    if (m_lock < 0)
        return false;
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
        return false;
    }
    file.write(statusFileText(status));
    if (!file.commit()) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

QList<RecorderStatus> readRunningRecorders(const QString &directory)
{
    QList<RecorderStatus> running;
    const QDir dir(directory);
    const QStringList names =
        dir.entryList({kPrefix + QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        bool number = false;
        const qint64 pid =
            name.mid(kPrefix.size(), name.size() - kPrefix.size() - 5).toLongLong(&number);
        if (!number)
            continue;
        // A recorder that ended without a word (SIGKILL, a crash) left its
        // files behind.
        if (!alive(directory, pid))
            continue;
        QFile file(jsonPath(directory, pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        RecorderStatus status = statusFromText(file.readAll());
        status.pid = pid;
        running << status;
    }
    std::sort(running.begin(), running.end(),
              [](const RecorderStatus &a, const RecorderStatus &b) { return a.pid < b.pid; });
    return running;
}

} // namespace framelog

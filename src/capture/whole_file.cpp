#include "capture/whole_file.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace framelog {

namespace {

// Links are followed as far as the kernel would follow them.
constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 100;
constexpr char kTemporaryPrefix[] = ".framelog\x7f";
constexpr char kTemporarySuffix[] = ".tmp";

[[noreturn]] void throwCreateError(const QString &fileName, const QString &reason)
{
    throw EFCreateError(
        QStringLiteral("Cannot create file \"%1\". %2").arg(fullPathForMessage(fileName), reason));
}

[[noreturn]] void throwCreateError(const QString &fileName, int code)
{
    throwCreateError(fileName, systemErrorText(code));
}

[[noreturn]] void throwWriteError(const QString &fileName, int code)
{
    throw EWriteError(QStringLiteral("Cannot write file \"%1\". %2")
                          .arg(fullPathForMessage(fileName), systemErrorText(code)));
}

// The folder part of `path` with its "/", empty for a bare name.
QByteArray folderOf(const QByteArray &path)
{
    return path.left(path.lastIndexOf('/') + 1);
}

// The content of the link at `path`; false with errno set when it cannot be
// read.
bool readLink(const QByteArray &path, QByteArray &target)
{
    std::vector<char> buffer(256);
    while (true) {
        const ssize_t n = ::readlink(path.constData(), buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (std::size_t(n) < buffer.size()) {
            target = QByteArray(buffer.data(), n);
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Whether a byte name is of the temporary files' naming.
bool isTemporaryBytes(const char *name)
{
    const std::size_t length = std::strlen(name);
    const std::size_t prefix = sizeof kTemporaryPrefix - 1;
    const std::size_t suffix = sizeof kTemporarySuffix - 1;
    return length >= prefix + suffix && std::memcmp(name, kTemporaryPrefix, prefix) == 0 &&
           std::memcmp(name + length - suffix, kTemporarySuffix, suffix) == 0;
}

// The process's umask, read without changing it: umask(2) can only set it,
// and setting it even for a moment would give a file another thread makes
// meanwhile the wrong mode. Read at every file, as the user may change it.
mode_t currentUmask()
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
        ::close(fd);
        if (n > 0) {
            buffer[n] = '\0';
            if (const char *line = std::strstr(buffer, "\nUmask:"))
                return mode_t(std::strtoul(line + 7, nullptr, 8)) & 0777;
        }
    }
    // No /proc: the old way, with the window kept as short as it gets.
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

void (*g_testHook)(WholeFileWriter::Stage, const QByteArray &) = nullptr;

// Folders this process has swept: when to sweep each again (steady clock,
// ms), or never (0) when its sweep left no young leftover.
std::mutex g_sweptMutex;
std::map<QByteArray, qint64> g_sweepAgain;

void sweepWhenDue(const QByteArray &folder)
{
    const qint64 now = QDeadlineTimer::current().deadline();
    {
        const std::lock_guard lock(g_sweptMutex);
        const auto [at, first] = g_sweepAgain.try_emplace(folder, 0);
        if (!first && (at->second == 0 || now < at->second))
            return;
        at->second = 0;
    }
    int young = 0;
    WholeFileWriter::removeStaleTemporaries(QFile::decodeName(folder), &young);
    if (young > 0) {
        const std::lock_guard lock(g_sweptMutex);
        g_sweepAgain[folder] = now + qint64(WholeFileWriter::kStaleAfterS) * 1000 + 1000;
    }
}

// Whether the file was written within kStaleAfterS (or is dated ahead: a
// clock that differs from the file server's). Every write sets the time.
bool writtenLately(const struct stat &st)
{
    return ::time(nullptr) - st.st_mtim.tv_sec < WholeFileWriter::kStaleAfterS;
}

QByteArray randomLetters(int count)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray text(count, Qt::Uninitialized);
    for (char &c : text)
        c = kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return text;
}

} // namespace

QString fullPathForMessage(const QString &fileName)
{
    if (fileName.isEmpty() || !QDir::isRelativePath(fileName))
        return fileName;
    QString current = QDir::currentPath();
    if (!current.endsWith(u'/'))
        current += u'/';
    return current + fileName;
}

QString systemErrorText(int code)
{
    QString text = QString::fromLocal8Bit(std::strerror(code)).left(256);
    qsizetype end = text.size();
    while (end > 0 && (text.at(end - 1) <= QLatin1Char(' ') || text.at(end - 1) == u'.'))
        --end;
    text.truncate(end);
    return text;
}

bool WholeFileWriter::isTemporaryName(const QString &name)
{
    return name.startsWith(QLatin1String(kTemporaryPrefix)) &&
           name.endsWith(QLatin1String(kTemporarySuffix));
}

WholeFileWriter::WholeFileWriter(const QString &fileName) : m_fileName(fileName)
{
    const QByteArray encoded = QFile::encodeName(fileName);
    // A name with a NUL in it would silently write a file of another name.
    if (encoded.contains('\0'))
        throwCreateError(fileName, EINVAL);
    if (encoded.isEmpty())
        throwCreateError(fileName, ENOENT);

    // The kernel walks the name first: it refuses a link it would not
    // follow for this user (fs.protected_symlinks), a loop, a folder that
    // may not be searched. Only a missing end (a new file, a dangling link)
    // is left for the walk below.
    struct stat followed;
    const bool exists = ::stat(encoded.constData(), &followed) == 0;
    if (!exists && errno != ENOENT)
        throwCreateError(fileName, errno);

    // Where the content goes: a link is written through to its final target,
    // which need not exist yet.
    m_target = encoded;
    for (int links = 0;; ++links) {
        struct stat st;
        if (::lstat(m_target.constData(), &st) != 0) {
            if (errno != ENOENT)
                throwCreateError(fileName, errno);
            break;
        }
        if (S_ISLNK(st.st_mode)) {
            QByteArray next;
            if (links == kMaxLinks)
                throwCreateError(fileName, ELOOP);
            if (!readLink(m_target, next))
                throwCreateError(fileName, errno);
            m_target = next.startsWith('/') ? next : folderOf(m_target) + next;
            continue;
        }
        if (S_ISDIR(st.st_mode))
            throwCreateError(fileName, EISDIR);
        // Opening a FIFO blocks until someone reads; a device or socket is no
        // place for a picture either.
        if (!S_ISREG(st.st_mode))
            throwCreateError(fileName, QStringLiteral("Not a regular file"));
        // The file the kernel reached is the one found here; else a link
        // changed on the way.
        if (!exists || st.st_dev != followed.st_dev || st.st_ino != followed.st_ino)
            throwCreateError(fileName, EAGAIN);
        // A file the user may not write stays as it is, as it did when it
        // was opened for writing; rename alone would replace it.
        if (::faccessat(AT_FDCWD, m_target.constData(), W_OK, AT_EACCESS) != 0)
            throwCreateError(fileName, errno);
        m_replaces = true;
        m_mode = st.st_mode & 0777;
        break;
    }
    // "name/" names a folder, as it does for open().
    if (m_target.endsWith('/'))
        throwCreateError(fileName, EISDIR);
    // A folder that takes no file says so now, before the picture is
    // encoded; the temporary file itself is made only once it is.
    const QByteArray folder = folderOf(m_target);
    if (::faccessat(AT_FDCWD, folder.isEmpty() ? "." : folder.constData(), W_OK | X_OK,
                    AT_EACCESS) != 0)
        throwCreateError(fileName, errno);
}

int WholeFileWriter::removeStaleTemporaries(const QString &folder, int *young)
{
    const QByteArray path = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return 0;
    const int dirFd = ::dirfd(dir);
    const uid_t user = ::geteuid();
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (!isTemporaryBytes(name))
            continue;
        // Only this user's regular files: never a link, a device or a FIFO,
        // and never another user's file.
        struct stat seen;
        if (::fstatat(dirFd, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
            seen.st_uid != user)
            continue;
        const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened, now;
        // Its writer holds the lock until the file is renamed; a file
        // renamed meanwhile is a picture now, and the name no longer its.
        // Looked at after the lock is had: a writer may have written since.
        if (::fstat(fd, &opened) == 0 && opened.st_ino == seen.st_ino &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == opened.st_dev &&
            now.st_ino == opened.st_ino) {
            if (writtenLately(now)) {
                if (young)
                    ++*young;
            } else if (::unlinkat(dirFd, name, 0) == 0) {
                ++removed;
            }
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

void WholeFileWriter::setTestHook(void (*hook)(Stage stage, const QByteArray &temporary))
{
    g_testHook = hook;
}

WholeFileWriter::~WholeFileWriter() = default;

void WholeFileWriter::commit(const QByteArray &data)
{
    const QByteArray folder = folderOf(m_target);
    TemporaryFile temporary(folder.isEmpty() ? QByteArray(".") : folder, m_fileName);
    if (g_testHook)
        g_testHook(Stage::Created, temporary.path());
    const char *next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(temporary.fd(), next, std::size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const int code = errno;
            temporary.discard();
            throwWriteError(m_fileName, code);
        }
        // A regular file that takes nothing and names no error: not written.
        if (written == 0) {
            temporary.discard();
            throwWriteError(m_fileName, EIO);
        }
        next += written;
        left -= written;
    }
    temporary.makeWhole(m_replaces ? m_mode : newFileMode());
    if (g_testHook)
        g_testHook(Stage::Whole, temporary.path());
    temporary.renameTo(m_target);
}

unsigned newFileMode()
{
    return 0666 & ~currentUmask();
}

TemporaryFile::TemporaryFile(const QByteArray &folder, const QString &fileName)
    : m_fileName(fileName)
{
    sweepWhenDue(folder);
    const QByteArray prefix = folder.endsWith('/') ? folder : folder + '/';
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QByteArray temporary =
            prefix + kTemporaryPrefix + randomLetters(12) + kTemporarySuffix;
        // Readable by the user alone until it is whole and has its final
        // mode: another user must not read a picture the final file hides.
        const int fd = ::open(temporary.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            throwCreateError(m_fileName, errno);
        }
        // Locked while it lives, so that no process sweeping leftovers takes
        // it. A file system without locks still gets the picture.
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        // A sweep that took the file between its creation and the lock has
        // removed it: another name.
        struct stat st;
        if (::fstat(fd, &st) == 0 && st.st_nlink == 0) {
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_path = temporary;
        return;
    }
    throwCreateError(m_fileName, EEXIST);
}

TemporaryFile::~TemporaryFile()
{
    discard();
}

void TemporaryFile::discard() noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());
    m_path.clear();
}

void TemporaryFile::makeWhole(unsigned mode)
{
    // Best effort: a file system without permission bits (FAT) refuses, and
    // the picture matters more than its mode.
    (void)::fchmod(m_fd, mode_t(mode));
    // On the disk before the name leads to it: after a power cut the name
    // holds the old content or the new one, never an empty file. A file
    // system that cannot flush (EINVAL) has nothing to lose.
    if (::fdatasync(m_fd) != 0 && errno != EINVAL) {
        const int code = errno;
        discard();
        throwWriteError(m_fileName, code);
    }
}

void TemporaryFile::renameTo(const QByteArray &target)
{
    if (::rename(m_path.constData(), target.constData()) != 0) {
        const int code = errno;
        discard();
        throwCreateError(m_fileName, code);
    }
    m_path.clear();
    // The lock is held until the rename, and goes with the descriptor. The
    // data is on the disk already: closing has nothing left to report.
    ::close(std::exchange(m_fd, -1));
}

} // namespace framelog

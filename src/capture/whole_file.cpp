#include "capture/whole_file.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
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

    const QByteArray folder = folderOf(m_target);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QByteArray temporary =
            folder + kTemporaryPrefix + randomLetters(12) + kTemporarySuffix;
        // 0666 as a plain create would ask, so the umask decides as it would.
        m_fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_temporary = temporary;
            return;
        }
        if (errno != EEXIST)
            throwCreateError(fileName, errno);
    }
    throwCreateError(fileName, EEXIST);
}

WholeFileWriter::~WholeFileWriter()
{
    discard();
}

void WholeFileWriter::discard() noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    m_temporary.clear();
}

void WholeFileWriter::commit(const QByteArray &data)
{
    const char *next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, next, std::size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const int code = errno;
            discard();
            throwWriteError(m_fileName, code);
        }
        // A regular file that takes nothing and names no error: not written.
        if (written == 0) {
            discard();
            throwWriteError(m_fileName, EIO);
        }
        next += written;
        left -= written;
    }
    // Best effort: a file system without permission bits (FAT) refuses, and
    // the picture matters more than its mode.
    if (m_replaces)
        (void)::fchmod(m_fd, m_mode);
    // No fsync: a reader of the name never sees a part either way, and the
    // flush would cost a disk round trip on every tick (see bench_jpeg).
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        const int code = errno;
        discard();
        throwWriteError(m_fileName, code);
    }
    if (::rename(m_temporary.constData(), m_target.constData()) != 0) {
        const int code = errno;
        discard();
        throwCreateError(m_fileName, code);
    }
    m_temporary.clear();
}

} // namespace framelog

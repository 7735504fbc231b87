#include "record/retention.h"

#include "capture/whole_file.h"
#include "settings/recipe.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace framelog {

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;
// Dead lines the journal carries before it is rewritten, at the least.
constexpr qint64 kLeastGarbage = 4096;
const QByteArray kMagic = QByteArrayLiteral("framelog-retention 1 ");

[[noreturn]] void failWith(const QString &path, const QString &what, int code)
{
    throw ERetention(QStringLiteral("the record's list of pictures %1: %2: %3")
                         .arg(path, what, systemErrorText(code)));
}

// A path on one line: "\" and line breaks escaped.
QByteArray escaped(const QByteArray &path)
{
    QByteArray out;
    out.reserve(path.size() + 8);
    for (const char c : path) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray unescaped(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

quint64 hashOf(QByteArrayView path)
{
    return quint64(qHash(path, 0));
}

// The hash of an escaped path, unescaped only when it has to be.
quint64 hashOfEscaped(QByteArrayView path)
{
    return path.contains('\\') ? hashOf(unescaped(path)) : hashOf(path);
}

bool readNumber(QByteArrayView text, qint64 &n)
{
    const auto [end, error] = std::from_chars(text.begin(), text.end(), n);
    return error == std::errc() && end == text.end();
}

// The fields of a "W" line after its letter; false when it does not read.
bool readWritten(QByteArrayView line, qint64 &ms, PictureStamp &stamp, QByteArrayView &path)
{
    qint64 numbers[4];
    qsizetype at = 2;
    for (qint64 &n : numbers) {
        const qsizetype space = line.indexOf(' ', at);
        if (space < 0)
            return false;
        if (!readNumber(line.sliced(at, space - at), n))
            return false;
        at = space + 1;
    }
    ms = numbers[0];
    stamp = PictureStamp{numbers[1], quint64(numbers[2]), numbers[3]};
    path = line.sliced(at);
    return !path.isEmpty();
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        next += n;
        left -= n;
    }
    return true;
}

} // namespace

RetentionLimits RetentionLimits::of(const Recipe &recipe)
{
    return RetentionLimits{recipe.keepDays, recipe.keepSize, recipe.keepCount};
}

std::optional<PictureStamp> stampOf(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return PictureStamp{qint64(st.st_size), quint64(st.st_ino),
                        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QString absolutePattern(const QString &pattern)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(pattern));
}

QString retentionJournalPath(const QString &absolutePattern)
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // As XDG asks: a relative value is ignored (Qt 6.4 has no state location).
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QByteArray digest =
        QCryptographicHash::hash(absolutePattern.toUtf8(), QCryptographicHash::Sha256).toHex();
    return state + QStringLiteral("/framelog/retention/") + QString::fromLatin1(digest.left(24)) +
           QStringLiteral(".journal");
}

Retention::Retention(const QString &journalPath, const QString &pattern, RetentionLimits limits,
                     bool readOnly)
    : m_journalPath(journalPath), m_header(kMagic + escaped(pattern.toUtf8()) + '\n'),
      m_limits(limits), m_readOnly(readOnly)
{
    const QByteArray name = QFile::encodeName(journalPath);
    if (readOnly) {
        QFile file(journalPath);
        if (!file.exists())
            return;
        if (!file.open(QIODevice::ReadOnly))
            throw ERetention(QStringLiteral("the record's list of pictures %1: %2")
                                 .arg(journalPath, file.errorString()));
        readJournal(file.readAll());
        return;
    }
    if (!QDir().mkpath(QFileInfo(journalPath).absolutePath()))
        failWith(journalPath, QStringLiteral("cannot make its folder"), errno ? errno : EACCES);
    // The journal is replaced whole when it is rewritten, so the lock that
    // keeps a second recorder off it is on a file of its own.
    m_lockFd = ::open((name + ".lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0)
        failWith(journalPath, QStringLiteral("cannot open its lock"), errno);
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(m_lockFd);
        if (code == EWOULDBLOCK)
            throw ERetention(QStringLiteral("the record's list of pictures %1 is in use by "
                                            "another recorder of the same pattern")
                                 .arg(journalPath));
        failWith(journalPath, QStringLiteral("cannot lock it"), code);
    }
    m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        const int code = errno;
        ::close(m_lockFd);
        failWith(journalPath, QStringLiteral("cannot open it"), code);
    }
    QFile file;
    if (!file.open(m_fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        ::close(m_fd);
        ::close(m_lockFd);
        throw ERetention(QStringLiteral("the record's list of pictures %1: %2")
                             .arg(journalPath, file.errorString()));
    }
    const QByteArray text = file.readAll();
    file.close();
    try {
        readJournal(text);
        if (m_size == 0)
            append(m_header);
    } catch (...) {
        ::close(m_fd);
        ::close(m_lockFd);
        throw;
    }
}

Retention::~Retention()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
}

void Retention::readJournal(const QByteArray &text)
{
    // A torn last line (a crash while appending) is not part of the list.
    const qsizetype end = text.lastIndexOf('\n') + 1;
    // A torn first line is a journal made by a crash; anything else is not
    // ours to cut.
    if (!text.startsWith(kMagic) && !(end == 0 && kMagic.startsWith(text)))
        throw ERetention(QStringLiteral("the record's list of pictures %1 is not one of "
                                        "Framelog's (it has no \"framelog-retention 1\" first "
                                        "line)")
                             .arg(m_journalPath));
    if (end < text.size() && !m_readOnly) {
        if (::ftruncate(m_fd, end) != 0)
            failWith(m_journalPath, QStringLiteral("cannot drop its torn last line"), errno);
    }
    m_size = end;
    qsizetype at = 0;
    while (at < end) {
        const qsizetype eol = text.indexOf('\n', at);
        const QByteArrayView line(text.constData() + at, eol - at);
        ++m_lines;
        if (line.startsWith("W ")) {
            qint64 ms = 0;
            PictureStamp stamp;
            QByteArrayView path;
            if (readWritten(line, ms, stamp, path)) {
                const quint64 hash = hashOfEscaped(path);
                if (const auto old = m_byPath.find(hash); old != m_byPath.end()) {
                    if (Entry *e = findByOffset(old->second))
                        drop(*e, false);
                }
                m_entries.push_back(Entry{at, ms, stamp, hash, true});
                m_byPath[hash] = at;
                ++m_count;
                m_bytes += stamp.bytes;
            }
        } else if (line.startsWith("R ")) {
            qint64 offset = 0;
            if (Entry *e = readNumber(line.sliced(2), offset) ? findByOffset(offset) : nullptr)
                drop(*e, false);
        }
        at = eol + 1;
    }
    popDeadFront();
}

void Retention::append(const QByteArray &line)
{
    if (m_readOnly)
        return;
    if (!writeAll(m_fd, line)) {
        const int code = errno ? errno : EIO;
        // Nothing half-written stays behind to tear the next line.
        if (::ftruncate(m_fd, m_size) != 0) {
        }
        failWith(m_journalPath, QStringLiteral("cannot add to it"), code);
    }
    m_size += line.size();
    ++m_lines;
}

Retention::Entry *Retention::findByOffset(qint64 offset)
{
    const auto it = std::lower_bound(m_entries.begin(), m_entries.end(), offset,
                                     [](const Entry &e, qint64 o) { return e.offset < o; });
    return it != m_entries.end() && it->offset == offset ? &*it : nullptr;
}

QString Retention::pathAt(qint64 offset) const
{
    QByteArray line;
    QFile file(m_journalPath);
    if (m_fd >= 0) {
        // Read through our descriptor: the name may be replaced meanwhile.
        char buffer[512];
        qint64 at = offset;
        while (true) {
            const ssize_t n = ::pread(m_fd, buffer, sizeof buffer, at);
            if (n <= 0)
                break;
            const QByteArrayView chunk(buffer, n);
            const qsizetype eol = chunk.indexOf('\n');
            line += chunk.first(eol < 0 ? n : eol);
            if (eol >= 0)
                break;
            at += n;
        }
    } else if (file.open(QIODevice::ReadOnly) && file.seek(offset)) {
        line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
    }
    qint64 ms = 0;
    PictureStamp stamp;
    QByteArrayView path;
    if (!readWritten(line, ms, stamp, path))
        return QString();
    return QFile::decodeName(unescaped(path));
}

void Retention::drop(Entry &entry, bool writeLine)
{
    if (!entry.alive)
        return;
    entry.alive = false;
    --m_count;
    m_bytes -= entry.stamp.bytes;
    if (const auto it = m_byPath.find(entry.pathHash);
        it != m_byPath.end() && it->second == entry.offset)
        m_byPath.erase(it);
    if (writeLine)
        append("R " + QByteArray::number(entry.offset) + '\n');
}

void Retention::popDeadFront()
{
    while (!m_entries.empty() && !m_entries.front().alive)
        m_entries.pop_front();
}

void Retention::add(const QString &absolutePath, qint64 writtenMs, const PictureStamp &stamp)
{
    // A writer's temporary file is never a picture: it is not counted, and
    // so never removed, whoever reported it.
    if (WholeFileWriter::isTemporaryName(QFileInfo(absolutePath).fileName()))
        return;
    const QByteArray path = QFile::encodeName(absolutePath);
    const quint64 hash = hashOf(path);
    const qint64 offset = m_size;
    append("W " + QByteArray::number(writtenMs) + ' ' + QByteArray::number(stamp.bytes) + ' ' +
           QByteArray::number(stamp.inode) + ' ' + QByteArray::number(stamp.mtimeNs) + ' ' +
           escaped(path) + '\n');
    // The file under the name was replaced by this one: the old entry is
    // gone without a removal, its line is dead.
    if (const auto old = m_byPath.find(hash); old != m_byPath.end()) {
        if (Entry *e = findByOffset(old->second))
            drop(*e, false);
    }
    m_entries.push_back(Entry{offset, writtenMs, stamp, hash, true});
    m_byPath[hash] = offset;
    ++m_count;
    m_bytes += stamp.bytes;
    popDeadFront();
    compactIfWorthIt();
}

bool Retention::dueAt(qint64 nowMs, qint64 count, qint64 bytes, const Entry &oldest) const
{
    return (m_limits.keepCount && count > *m_limits.keepCount) ||
           (m_limits.keepBytes && bytes > *m_limits.keepBytes) ||
           (m_limits.keepDays && oldest.writtenMs <= nowMs - *m_limits.keepDays * kDayMs);
}

std::vector<Retention::Removal> Retention::enforce(qint64 nowMs, bool dryRun)
{
    std::vector<Removal> removals;
    qint64 count = m_count;
    qint64 bytes = m_bytes;
    for (std::size_t i = 0; i < m_entries.size() && count > 0; ++i) {
        Entry &e = m_entries[i];
        if (!e.alive)
            continue;
        if (!dueAt(nowMs, count, bytes, e))
            break;
        Removal removal;
        removal.path = pathAt(e.offset);
        removal.bytes = e.stamp.bytes;
        const auto now = stampOf(removal.path);
        if (!removal.path.isEmpty() && now && *now == e.stamp) {
            if (dryRun || ::unlink(QFile::encodeName(removal.path).constData()) == 0 ||
                errno == ENOENT)
                removal.removed = true;
            else
                removal.error = systemErrorText(errno);
        }
        --count;
        bytes -= e.stamp.bytes;
        if (!dryRun)
            drop(e, true);
        removals.push_back(std::move(removal));
    }
    if (!dryRun) {
        popDeadFront();
        compactIfWorthIt();
    }
    return removals;
}

qint64 Retention::audit()
{
    // One read of the journal rather than one per picture.
    const QByteArray text = journalText();
    qint64 dropped = 0;
    for (Entry &e : m_entries) {
        if (!e.alive)
            continue;
        const qsizetype eol = text.indexOf('\n', e.offset);
        qint64 ms = 0;
        PictureStamp stamp;
        QByteArrayView path;
        const bool read =
            eol > 0 && readWritten(QByteArrayView(text.constData() + e.offset, eol - e.offset), ms,
                                   stamp, path);
        const auto now =
            read ? stampOf(QFile::decodeName(unescaped(path))) : std::optional<PictureStamp>();
        if (!now || !(*now == e.stamp)) {
            drop(e, !m_readOnly);
            ++dropped;
        }
    }
    popDeadFront();
    compactIfWorthIt();
    return dropped;
}

std::optional<qint64> Retention::nextExpiryMs() const
{
    if (!m_limits.keepDays || m_entries.empty())
        return std::nullopt;
    return m_entries.front().writtenMs + *m_limits.keepDays * kDayMs;
}

QByteArray Retention::journalText() const
{
    if (m_fd < 0) {
        QFile file(m_journalPath);
        return file.open(QIODevice::ReadOnly) ? file.read(m_size) : QByteArray();
    }
    QByteArray text(m_size, Qt::Uninitialized);
    qint64 got = 0;
    while (got < m_size) {
        const ssize_t n = ::pread(m_fd, text.data() + got, size_t(m_size - got), got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failWith(m_journalPath, QStringLiteral("cannot read it back"), n < 0 ? errno : EIO);
        got += n;
    }
    return text;
}

void Retention::compactIfWorthIt()
{
    const qint64 garbage = m_lines - 1 - m_count;
    if (m_readOnly || garbage < std::max(kLeastGarbage, m_count))
        return;
    // The live lines, read in one pass, under new offsets.
    const QByteArray old = journalText();
    QByteArray text = m_header;
    std::deque<Entry> entries;
    for (const Entry &e : m_entries) {
        if (!e.alive)
            continue;
        const qsizetype eol = old.indexOf('\n', e.offset);
        Entry moved = e;
        moved.offset = text.size();
        text += QByteArrayView(old.constData() + e.offset, eol + 1 - e.offset);
        entries.push_back(moved);
    }
    try {
        WholeFileWriter writer(m_journalPath);
        writer.commit(text);
    } catch (const Exception &e) {
        throw ERetention(QStringLiteral("the record's list of pictures %1 cannot be rewritten: %2")
                             .arg(m_journalPath, e.message()));
    }
    const int fd =
        ::open(QFile::encodeName(m_journalPath).constData(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        failWith(m_journalPath, QStringLiteral("cannot open it again"), errno);
    ::close(m_fd);
    m_fd = fd;
    m_size = text.size();
    m_lines = 1 + qint64(entries.size());
    m_entries = std::move(entries);
    m_byPath.clear();
    for (const Entry &e : m_entries)
        m_byPath[e.pathHash] = e.offset;
}

} // namespace framelog

#include "record/picture_keeper.h"

#include "core/paths.h"
#include "settings/byte_size.h"
#include "settings/recipe.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>

#include <pthread.h>
#include <sys/statvfs.h>

namespace framelog {

namespace {

qint64 wallClockMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// keep-days is looked at again at least this often, whatever the clock did.
constexpr qint64 kLongestSleepMs = 3600 * 1000;

} // namespace

std::optional<qint64> freeBytesAt(const QString &folder)
{
    struct statvfs st;
    if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0)
        return std::nullopt;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

QString patternRootFolder(const QString &pattern)
{
    QString folder = splitAtLastDelimiter(pattern).folder;
    const qsizetype placeholder = folder.indexOf(u'%');
    if (placeholder >= 0)
        folder = splitAtLastDelimiter(folder.left(placeholder)).folder;
    QString path = absolutePattern(folder.isEmpty() ? QStringLiteral(".") : folder);
    while (!QFileInfo(path).isDir() && path != u"/")
        path = QFileInfo(path).path();
    return path;
}

PictureKeeper::PictureKeeper(Options options) : m_options(std::move(options))
{
    if (!m_options.clockMs)
        m_options.clockMs = &wallClockMs;
    if (!m_options.freeBytes) {
        const QString root = patternRootFolder(m_options.pattern);
        m_options.freeBytes = [root] { return freeBytesAt(root); };
    }
    if (m_options.limits.any()) {
        const QString pattern = absolutePattern(m_options.pattern);
        if (m_options.journalPath.isEmpty())
            m_options.journalPath = retentionJournalPath(pattern);
        m_retention = std::make_unique<Retention>(m_options.journalPath, pattern, m_options.limits);
    }
    m_thread = std::thread([this] { run(); });
}

PictureKeeper::~PictureKeeper()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_work.notify_all();
    m_thread.join();
}

void PictureKeeper::wrote(const QString &fileName)
{
    m_written.fetch_add(1);
    // Stamped here, right after the write: the next picture may replace it.
    // A picture written through a link has none: the link is not ours.
    std::optional<PictureStamp> stamp;
    if (m_retention)
        stamp = stampOf(fileName);
    {
        // Also without retention: the keeper looks at the disk after it.
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(Written{absolutePattern(fileName), m_options.clockMs(), stamp});
    }
    m_work.notify_one();
}

bool PictureKeeper::pauseTick()
{
    if (!m_paused)
        return false;
    m_pausedTicks.fetch_add(1);
    return true;
}

void PictureKeeper::settle()
{
    std::unique_lock lock(m_mutex);
    m_settled.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

QString PictureKeeper::summaryNotes() const
{
    QString notes;
    if (m_options.minFree || m_pausedTicks > 0)
        notes += QStringLiteral(", %1 paused").arg(m_pausedTicks.load());
    if (m_retention)
        notes += QStringLiteral(", %1 removed").arg(m_removed.load());
    return notes;
}

PictureWriter::Write PictureKeeper::write(PictureKeeper *keeper)
{
    return [keeper](const QImage &picture, const QString &name, bool overwrite) {
        // The pattern's folders ("cam/%isodate%/") are made as needed; one
        // that cannot be made fails the save with its usual message.
        const QString folder = splitAtLastDelimiter(name).folder;
        if (!folder.isEmpty() && !QFileInfo(folder).isDir())
            QDir().mkpath(folder);
        const CaptureRun::Fate fate = CaptureRun::save(picture, name, overwrite);
        if (keeper && fate == CaptureRun::Fate::Written)
            keeper->wrote(name);
        return fate;
    };
}

void PictureKeeper::say(const QString &line, bool trouble)
{
    if (m_options.report)
        m_options.report(line, trouble);
}

void PictureKeeper::enforce()
{
    if (!m_retention)
        return;
    for (const Retention::Removal &r : m_retention->enforce(m_options.clockMs())) {
        if (r.removed)
            m_removed.fetch_add(1);
        else if (!r.error.isEmpty())
            say(QStringLiteral("cannot remove %1: %2; it no longer counts").arg(r.path, r.error),
                true);
    }
}

void PictureKeeper::lookAtFreeSpace(std::unique_lock<std::mutex> &lock)
{
    if (!m_options.minFree)
        return;
    const qint64 floor = *m_options.minFree;
    lock.unlock();
    auto free = m_options.freeBytes();
    if (free && !m_paused && *free < floor) {
        // Retention first: what its limits let go goes now.
        enforce();
        free = m_options.freeBytes();
        if (free && *free < floor) {
            m_paused = true;
            say(QStringLiteral("disk nearly full: %1 free, pictures paused")
                    .arg(roundedByteSizeText(*free)),
                true);
        }
    } else if (free && m_paused && *free >= floor + floor / 20) {
        m_paused = false;
        say(QStringLiteral("disk has room again: %1 free, pictures resumed")
                .arg(roundedByteSizeText(*free)),
            true);
    }
    lock.lock();
}

void PictureKeeper::handle(const Written &written)
{
    if (m_retention && written.stamp)
        m_retention->add(written.path, written.ms, *written.stamp);
}

void PictureKeeper::run()
{
    pthread_setname_np(pthread_self(), "framelog-keeper");
    std::unique_lock lock(m_mutex);
    bool first = true;
    for (;;) {
        std::deque<Written> batch;
        if (!first) {
            // Wake for work, for keep-days' next picture, or to look at the
            // disk again while paused.
            std::optional<qint64> sleepMs;
            if (m_paused)
                sleepMs = m_options.pausedPollMs;
            if (m_retention) {
                if (const auto expiry = m_retention->nextExpiryMs())
                    sleepMs = std::min(sleepMs.value_or(kLongestSleepMs),
                                       std::max<qint64>(0, *expiry - m_options.clockMs()) + 1);
            }
            const auto ready = [this] { return m_quit || !m_queue.empty(); };
            if (sleepMs)
                m_work.wait_for(lock, std::chrono::milliseconds(*sleepMs), ready);
            else
                m_work.wait(lock, ready);
        }
        batch.swap(m_queue);
        m_busy = true;
        lock.unlock();
        try {
            if (first && m_retention)
                m_retention->audit();
            for (const Written &w : batch)
                handle(w);
            enforce();
            m_failedOnce = false;
        } catch (const Exception &e) {
            // Said once until it works again: a full disk fails every time.
            if (!std::exchange(m_failedOnce, true))
                say(e.message(), true);
        }
        first = false;
        lock.lock();
        lookAtFreeSpace(lock);
        m_busy = false;
        if (m_queue.empty())
            m_settled.notify_all();
        if (m_quit && m_queue.empty())
            return;
    }
}

QString retentionDryRun(const Recipe &recipe, qint64 nowMs, QStringList &paths)
{
    const RetentionLimits limits = RetentionLimits::of(recipe);
    if (!limits.any())
        return QStringLiteral("no keep-days, keep-size or keep-count: nothing goes");
    const QString pattern = absolutePattern(recipe.pattern);
    Retention retention(retentionJournalPath(pattern), pattern, limits, true);
    qint64 count = 0;
    qint64 bytes = 0;
    for (const Retention::Removal &r : retention.enforce(nowMs, true)) {
        if (!r.removed)
            continue;
        paths << r.path;
        ++count;
        bytes += r.bytes;
    }
    return QStringLiteral("%1 of %2 pictures (%3 of %4) would go")
        .arg(count)
        .arg(retention.count())
        .arg(roundedByteSizeText(bytes), roundedByteSizeText(retention.bytes()));
}

} // namespace framelog

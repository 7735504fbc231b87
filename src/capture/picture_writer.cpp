#include "capture/picture_writer.h"

#include "core/error_guard.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include <pthread.h>

namespace framelog {

QString fellBehindText()
{
    return QStringLiteral("Writing fell behind; the picture was dropped");
}

QString runEndedFirstText()
{
    return QStringLiteral("The run ended before the picture was written");
}

PictureWriter::PictureWriter(std::function<void()> wake, int ceiling)
    : m_wake(std::move(wake)), m_ceiling(std::max(ceiling, 2)), m_write(&CaptureRun::save),
      m_thread([this] { run(); })
{
}

PictureWriter::~PictureWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        m_waiting.clear();
    }
    m_work.notify_all();
    m_thread.join();
}

void PictureWriter::setWrite(Write write)
{
    const std::lock_guard lock(m_mutex);
    m_write = std::move(write);
}

quint64 PictureWriter::submit(QImage picture, QString fileName, bool overwrite, QElapsedTimer since)
{
    bool dropped = false;
    quint64 id;
    {
        const std::lock_guard lock(m_mutex);
        while (int(m_waiting.size()) + int(m_busy) >= m_ceiling && !m_waiting.empty()) {
            dropFront(fellBehindText());
            dropped = true;
        }
        id = ++m_lastId;
        m_waiting.push_back(Job{id, std::move(picture), std::move(fileName), overwrite, since});
    }
    m_work.notify_one();
    if (dropped && m_wake)
        m_wake();
    return id;
}

void PictureWriter::dropFront(const QString &reason)
{
    const Job &job = m_waiting.front();
    m_done.push_back(
        WriteResult{job.id, WriteResult::Fate::Failed, reason, job.since.elapsed(), 0});
    m_waiting.pop_front();
}

std::vector<WriteResult> PictureWriter::take()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_done, {});
}

bool PictureWriter::waitIdle(QDeadlineTimer deadline)
{
    std::unique_lock lock(m_mutex);
    const auto idle = [this] { return m_waiting.empty() && !m_busy; };
    if (deadline.isForever()) {
        m_idle.wait(lock, idle);
        return true;
    }
    return m_idle.wait_until(lock, deadline.deadline<std::chrono::steady_clock>(), idle);
}

void PictureWriter::abandonWaiting(const QString &reason)
{
    bool dropped = false;
    {
        const std::lock_guard lock(m_mutex);
        while (!m_waiting.empty()) {
            dropFront(reason);
            dropped = true;
        }
    }
    m_idle.notify_all();
    if (dropped && m_wake)
        m_wake();
}

int PictureWriter::inFlight() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_waiting.size()) + int(m_busy);
}

void PictureWriter::run()
{
    pthread_setname_np(pthread_self(), "framelog-writer");
    for (;;) {
        Job job;
        Write write;
        {
            std::unique_lock lock(m_mutex);
            m_work.wait(lock, [this] { return m_quit || !m_waiting.empty(); });
            if (m_quit)
                return;
            job = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_busy = true;
            write = m_write;
        }
        WriteResult result{job.id, WriteResult::Fate::Failed, QString(), 0, 0};
        QElapsedTimer took;
        took.start();
        try {
            result.fate =
                write(job.picture, job.fileName, job.overwrite) == CaptureRun::Fate::Written
                    ? WriteResult::Fate::Written
                    : WriteResult::Fate::Skipped;
        } catch (...) {
            result.error = currentExceptionMessage();
        }
        // The pixels go here, off the window thread, once written.
        job.picture = QImage();
        result.writeMs = took.elapsed();
        result.ms = job.since.elapsed();
        {
            const std::lock_guard lock(m_mutex);
            m_done.push_back(std::move(result));
            m_busy = false;
        }
        m_idle.notify_all();
        if (m_wake)
            m_wake();
    }
}

} // namespace framelog

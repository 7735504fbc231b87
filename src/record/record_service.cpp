#include "record/record_service.h"

#include "capture/capture_session.h"

#include <QDateTime>
#include <QTimer>

#include <chrono>
#include <unistd.h>

namespace framelog {

namespace {

qint64 steadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

RecordService::RecordService(RecordSession &session, ServiceNotifier notifier,
                             std::unique_ptr<StatusFile> file, RecordLog log, QObject *parent)
    : QObject(parent), m_session(session), m_notifier(std::move(notifier)), m_file(std::move(file)),
      m_log(std::move(log)), m_publish(new QTimer(this))
{
    m_publish->setSingleShot(true);
    m_publish->setInterval(kPublishDelayMs);
    connect(m_publish, &QTimer::timeout, this, &RecordService::publish);
    if (m_file && !m_file->open())
        m_log(runLogLine(QDateTime::currentDateTime(), QStringLiteral("framelog-record"),
                         QStringLiteral("no status file: ") + m_file->error(), 0),
              true);
    connect(&m_session, &RecordSession::finished, this, [this] {
        m_stopping = true;
        m_notifier.stopping();
        publish();
    });
}

RecordService::~RecordService() = default;

void RecordService::start()
{
    for (RecordCamera *camera : m_session.cameras())
        connect(camera, &RecordCamera::statusChanged, this, &RecordService::changed);
    if (const auto watchdog = m_notifier.watchdog()) {
        m_pinger = new WatchdogPinger(
            std::chrono::duration_cast<std::chrono::milliseconds>(*watchdog),
            [this] { return ticksAlive(); }, [this] { m_notifier.watchdogPing(); }, this);
        connect(m_pinger, &WatchdogPinger::ticksStopped, this, [this] {
            m_log(runLogLine(QDateTime::currentDateTime(), QStringLiteral("framelog-record"),
                             QStringLiteral("the picture ticks stopped; the watchdog will "
                                            "restart the recorder"),
                             0),
                  true);
        });
        m_pinger->start();
    }
    publish();
}

QList<RecipeStatus> RecordService::recipes() const
{
    QList<RecipeStatus> recipes;
    for (const RecordCamera *camera : m_session.cameras())
        recipes << camera->status();
    return recipes;
}

bool RecordService::ticksAlive() const
{
    QList<DueTick> ticks;
    for (const RecordCamera *camera : m_session.cameras())
        ticks << DueTick{camera->tickDueMs(), camera->job().recipe.everyMs};
    return framelog::ticksAlive(ticks, steadyNowMs());
}

void RecordService::changed()
{
    // Ready as soon as every recipe records: systemd's start-up ends there.
    if (!m_ready) {
        bool all = true;
        for (const RecordCamera *camera : m_session.cameras())
            all = all && camera->status().state != RecipeStatus::State::Starting;
        if (all) {
            m_ready = true;
            m_notifier.ready();
            publish();
            return;
        }
    }
    if (!m_publish->isActive())
        m_publish->start();
}

void RecordService::publish()
{
    m_publish->stop();
    const QList<RecipeStatus> now = recipes();
    if (!m_stopping)
        m_notifier.status(serviceStatusText(now));
    if (m_file)
        m_file->write(RecorderStatus{qint64(getpid()), QDateTime::currentDateTime(), now});
}

} // namespace framelog

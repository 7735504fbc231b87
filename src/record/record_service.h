#pragma once

#include "record/record_status.h"
#include "record/recorder.h"
#include "record/service_notifier.h"
#include "record/status_file.h"

#include <QObject>

#include <memory>

class QTimer;

namespace framelog {

// A running recorder as others see it: its status file for `--status`, and
// under a Type=notify service READY=1 once every recipe records, a STATUS=
// line kept current and watchdog pings while the ticks are alive. Changes
// are published together, at most twice a second.
class RecordService : public QObject {
    Q_OBJECT
public:
    // `file` may be null: no status file. `log` gets the line that says the
    // ticks stopped.
    RecordService(RecordSession &session, ServiceNotifier notifier,
                  std::unique_ptr<StatusFile> file, RecordLog log, QObject *parent = nullptr);
    ~RecordService() override;

    static constexpr int kPublishDelayMs = 500;

    // After the session has started its cameras.
    void start();
    // Every recipe's status now.
    QList<RecipeStatus> recipes() const;
    // Whether every recipe's ticks come as due (ticksAlive).
    bool ticksAlive() const;
    WatchdogPinger *pinger() const { return m_pinger; }

private:
    void changed();
    void publish();

    RecordSession &m_session;
    ServiceNotifier m_notifier;
    std::unique_ptr<StatusFile> m_file;
    RecordLog m_log;
    QTimer *m_publish;
    WatchdogPinger *m_pinger = nullptr;
    bool m_ready = false;
    bool m_stopping = false;
};

} // namespace framelog

#pragma once

#include "capture/capture_session.h"
#include "capture/run_watch.h"
#include "record/page_outage.h"
#include "record/record_options.h"
#include "record/record_status.h"
#include "record/run_outcome.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QTimer;

namespace framelog {

class LoadWait;
class PictureKeeper;
class PageRest;
class ReturnWatch;
class TBrowserControl;
class TTimer;
struct AuthChallenge;
struct CertificateFacts;

// Where the recorder's lines go: one per picture or failure; `failure`
// tells the lines that --quiet keeps.
using RecordLog = std::function<void(const QString &line, bool failure)>;

// One recipe's record: its page, its two timers and its counter. The page
// is loaded at start; the first picture comes one interval after the first
// load has ended (or after a minute, if it never ends). A failed picture is
// logged and the next tick tries again. Pictures are encoded and written on
// the capture session's writer thread, logged in tick order (capture
// session's runLogLine).
//
// A camera that is down: while the page has failed to load (no connection,
// a refused certificate or login, an HTTP status of 400 or more, a renderer
// that ended) no picture is taken; each try logs one line with the reason,
// the ticks meanwhile are counted as missed, and the page is asked for
// again after a delay growing from 5 s (PageOutage); a camera that could
// not be reached is tried at once when its port opens (ReturnWatch). Once
// the first good load is drawn, the record goes on and logs how long the
// page was down.
//
// Logins are answered with the job's user and password, once per
// challenge: asked again, the answer was refused, and the load fails with
// that reason. A certificate the browser does not trust is accepted only
// when the recipe trusts its fingerprint.
//
// With the recipe's wait-for-load, skip-unchanged or stall-after, the run
// has a RunWatch (unchanged pictures are skipped and take no number, stalls
// are logged and, asked to, reloaded) and a LoadWait (a tick that falls
// into a load waits for its page); its summary is logged when it stops.
//
// Missing folders of the pattern are made. With the recipe's keep-days,
// keep-size, keep-count or min-free, a PictureKeeper removes the record's
// oldest pictures and pauses the ticks while the disk is nearly full.
// With rest-between and pictures far enough apart, a PageRest hides the
// page between pictures and gives the ticks instead of PictureTimer; a
// picture it could not be sure is fresh is written but not judged.
class RecordCamera : public QObject {
    Q_OBJECT
public:
    // Takes ownership of `browser`, whose widget becomes the browser area.
    RecordCamera(RecordJob job, TBrowserControl *browser, RecordLog log, QObject *parent = nullptr);
    ~RecordCamera() override;

    // How long stopping waits for the pictures in flight: a SIGTERM ends
    // the recorder within two seconds.
    static constexpr int kStopWaitMs = 1500;

    void start();
    // No more ticks; the pictures in flight are written and logged by the
    // deadline, those still waiting then are dropped and logged as failed.
    void stop(QDeadlineTimer deadline = QDeadlineTimer(kStopWaitMs));

    const RecordJob &job() const { return m_job; }
    // Pictures taken or attempted: each tick that took a number (a
    // skipped picture takes none, held ticks merge into one).
    qint64 taken() const { return m_session.run().counter(); }
    // What became of the pictures so far.
    RunTally tally() const;
    TBrowserControl *browser() const { return m_browser; }
    // Where this recipe stands, for --status and the service manager.
    RecipeStatus status() const;
    // When its next picture tick is due (steady clock, ms), for the
    // watchdog: the first one allows for the first page; none once stopped.
    std::optional<qint64> tickDueMs() const;

    TTimer *PageTimer = nullptr;
    TTimer *PictureTimer = nullptr;

    void PictureTimerTimer();
    void PageTimerTimer();
    void WebBrowserNavigateComplete2(const QString &url);
    void WebBrowserNavigateError(const QString &url);
    void WebBrowserPageDrawn();
    // The port of a camera that could not be reached has opened.
    void cameraAnswers();
    void WebBrowserAuthenticationRequired(AuthChallenge &challenge);
    void WebBrowserCertificateError(const CertificateFacts &facts, bool &accept);

    const PageOutage &outage() const { return m_outage; }

signals:
    void pictureTaken();
    // status() changed.
    void statusChanged();

private:
    void load();
    void reload();
    void startPictures();
    // One tick that may capture now.
    void takePicture();
    // A tick while the page is down: counted, nothing taken.
    bool missedWhileDown();
    // The whole browser area as it shows now.
    QImage grabWhole();
    QImage grabArea();
    void setUpRest();
    void logLine(const QString &what, bool keptWhenQuiet);
    // "Run ended: ..." with what the watch and the keeper counted.
    QString runSummary();
    // How the capture session takes and names this recipe's pictures.
    CaptureSession::FrontEnd captureFrontEnd();

    RecordJob m_job;
    TBrowserControl *m_browser;
    RecordLog m_log;
    QTimer *m_firstPictureFallback = nullptr;
    bool m_loadFailed = false;
    bool m_pageFailing = false;
    bool m_stopped = false;
    RunTally m_tally; // skipped: names taken; the watch counts unchanged ones
    PageOutage m_outage;
    QElapsedTimer m_clock;
    // What the questions of the load that failed said about it (a refused
    // login, an untrusted certificate), for its log line.
    QString m_failureNote;
    std::unique_ptr<RunWatch> m_watch;
    LoadWait *m_loadWait = nullptr;
    PageRest *m_rest = nullptr;
    ReturnWatch *m_returnWatch = nullptr;
    // The picture a resting page's tick found, and whether it is fresh.
    QImage m_restPicture;
    bool m_restFresh = true;
    RecipeStatus m_status;
    std::optional<qint64> m_tickDueMs;
    // Before the session: it outlives the writer thread that feeds it.
    std::unique_ptr<PictureKeeper> m_keeper;
    // Last: its writer thread ends first.
    CaptureSession m_session;
};

// A recorder's whole run: one camera per recipe on one browser engine, the
// --count and --for limits. `finished` comes once, when every camera has
// taken its count, the time is up or stop() is called.
class RecordSession : public QObject {
    Q_OBJECT
public:
    // Makes the browser of one job (on the job's profile).
    using BrowserFactory = std::function<TBrowserControl *(const RecordJob &job)>;

    RecordSession(RecordPlan plan, BrowserFactory browsers, RecordLog log,
                  QObject *parent = nullptr);
    ~RecordSession() override;

    void start();
    void stop();

    const QList<RecordCamera *> &cameras() const { return m_cameras; }
    // The exit status for the run so far (recordExitStatus).
    int exitStatus() const;

signals:
    void finished();

private:
    void cameraTookPicture(RecordCamera *camera);
    void waitForTheEnd();

    RecordPlan m_plan;
    BrowserFactory m_browsers;
    RecordLog m_log;
    QList<RecordCamera *> m_cameras;
    QTimer *m_forTimer = nullptr;
    QDeadlineTimer m_deadline;
    int m_done = 0;
    bool m_finished = false;
};

} // namespace framelog

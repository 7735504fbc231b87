#include "record/recorder.h"

#include "browse/browser_control.h"
#include "browse/load_wait.h"
#include "capture/page_capture.h"
#include "capture/pattern_names.h"
#include "core/length_text.h"
#include "core/secrets.h"
#include "record/page_rest.h"
#include "record/picture_keeper.h"
#include "record/return_watch.h"
#include "settings/timer.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>

namespace framelog {

namespace {

// A page that never ends loading is recorded as it stands after this.
constexpr int kFirstPictureAtLatestMs = 60 * 1000;

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The longest wait between tries of a page that is down: 5 min, or the
// reload interval when that is shorter and reloads are on.
qint64 retryCapMs(const Recipe &recipe)
{
    return recipe.reload ? std::min(recipe.reloadEveryMs, PageOutage::kLongestRetryMs)
                         : PageOutage::kLongestRetryMs;
}

// What a recipe asks of the frame watch.
FrameWatchOptions watchOptions(const Recipe &recipe)
{
    FrameWatchOptions options;
    options.skipUnchanged = recipe.skipUnchanged;
    if (recipe.stallAfterMs)
        options.stallAfter = std::chrono::milliseconds(*recipe.stallAfterMs);
    options.onStall = recipe.onStall == Recipe::OnStall::Reload ? FrameWatchOptions::OnStall::Reload
                                                                : FrameWatchOptions::OnStall::Log;
    return options;
}

} // namespace

RecordCamera::RecordCamera(RecordJob job, TBrowserControl *browser, RecordLog log, QObject *parent)
    : QObject(parent), m_job(std::move(job)), m_browser(browser), m_log(std::move(log)),
      m_outage(retryCapMs(m_job.recipe)), m_session(captureFrontEnd())
{
    m_clock.start();
    m_session.logName = m_job.name;
    // Only a pattern without a counter can give a name twice.
    m_session.rememberNames(!patternVariation(m_job.recipe.pattern).counter);
    m_session.log = [this](const TickResult &result, const QString &line) {
        m_log(line, result.fate == TickResult::Fate::Failed);
        m_status.count(result, QDateTime::currentDateTime());
        emit statusChanged();
    };
    m_status.name = m_job.name;
    m_browser->setParent(this);
    PageTimer = new TTimer(this);
    PictureTimer = new TTimer(this);
    PageTimer->setEnabled(false);
    PictureTimer->setEnabled(false);
    PageTimer->setOnTimer([this](TTimer *) { PageTimerTimer(); });
    PictureTimer->setOnTimer([this](TTimer *) { PictureTimerTimer(); });

    const Recipe &recipe = m_job.recipe;
    m_browser->setOffline(recipe.offline);
    connect(m_browser, &TBrowserControl::NewWindow2, this,
            [this](bool &cancel) { cancel = !m_job.recipe.popups; });
    connect(m_browser, &TBrowserControl::NavigateError, this,
            &RecordCamera::WebBrowserNavigateError);
    connect(m_browser, &TBrowserControl::NavigateComplete2, this,
            &RecordCamera::WebBrowserNavigateComplete2);
    connect(m_browser, &TBrowserControl::PageDrawn, this, &RecordCamera::WebBrowserPageDrawn);
    connect(m_browser, &TBrowserControl::AuthenticationRequired, this,
            &RecordCamera::WebBrowserAuthenticationRequired);
    connect(m_browser, &TBrowserControl::CertificateError, this,
            &RecordCamera::WebBrowserCertificateError);
    m_returnWatch = new ReturnWatch(this);
    connect(m_returnWatch, &ReturnWatch::cameBack, this, &RecordCamera::cameraAnswers);

    // The browser area is a window of its own, of the recipe's size: on the
    // offscreen platform nothing is seen, and the page draws as on a screen.
    if (QWidget *area = m_browser->widget()) {
        area->resize(recipe.size);
        area->show();
    }

    if (recipe.keepDays || recipe.keepSize || recipe.keepCount || recipe.minFree) {
        PictureKeeper::Options keep;
        keep.limits = RetentionLimits::of(recipe);
        keep.minFree = recipe.minFree;
        keep.pattern = recipe.pattern;
        keep.report = [this](const QString &line, bool trouble) {
            QMetaObject::invokeMethod(
                this, [this, line, trouble] { logLine(line, trouble); }, Qt::QueuedConnection);
        };
        m_keeper = std::make_unique<PictureKeeper>(std::move(keep));
    }
    m_session.writer().setWrite(PictureKeeper::write(m_keeper.get()));

    // Off unless the recipe asks: then every picture is judged first.
    if (recipe.waitForLoadMs || recipe.skipUnchanged || recipe.stallAfterMs) {
        RunWatch::Hooks hooks;
        hooks.reload = [this] { reload(); };
        // A stall is trouble with the page: --quiet keeps it.
        hooks.report = [this](const QString &text) {
            logLine(text, true);
            emit statusChanged(); // a stall began or ended
        };
        hooks.skipped = [this](qint64 skipped) {
            logLine(QStringLiteral("unchanged, %1").arg(skippedText(skipped)), false);
            ++m_status.skipped;
            emit statusChanged();
        };
        m_watch = std::make_unique<RunWatch>(watchOptions(recipe), std::move(hooks));
        m_session.setJudge([this](const QImage &picture) {
            // Frame health judges only what the page shows now.
            return !m_restFresh || m_watch->judge(picture);
        });
    }
    if (recipe.restBetween)
        setUpRest();
}

void RecordCamera::setUpRest()
{
    if (m_job.recipe.everyMs < kRestFromMs) {
        logLine(QStringLiteral("pictures every %1 are too close to rest between; the page stays "
                               "live (rest-between works from %2)")
                    .arg(intervalText(m_job.recipe.everyMs), intervalText(kRestFromMs)),
                false);
        return;
    }
    m_browser->allowRest();
    PageRest::Hooks hooks;
    hooks.grab = [this] { return grabArea(); };
    hooks.tick = [this](const QImage &picture, bool fresh) {
        m_restPicture = picture;
        m_restFresh = fresh;
        PictureTimerTimer();
        m_restPicture = QImage();
        m_restFresh = true;
    };
    m_rest = new PageRest(m_browser, std::chrono::milliseconds(m_job.recipe.everyMs),
                          std::move(hooks), this);
}

RecordCamera::~RecordCamera() = default;

void RecordCamera::start()
{
    if (const auto limit = m_job.recipe.waitForLoadMs) {
        m_loadWait = new LoadWait(m_browser, std::chrono::milliseconds(*limit), this);
        connect(m_loadWait, &LoadWait::ready, this, [this, limit](bool timedOut) {
            if (m_stopped)
                return;
            if (timedOut)
                logLine(loadWaitTimedOutText(std::chrono::milliseconds(*limit)), true);
            takePicture();
        });
    }
    PageTimer->setInterval(quint32(m_job.recipe.reloadEveryMs));
    PageTimer->setEnabled(m_job.recipe.reload);
    m_firstPictureFallback = new QTimer(this);
    m_firstPictureFallback->setSingleShot(true);
    connect(m_firstPictureFallback, &QTimer::timeout, this, &RecordCamera::startPictures);
    m_firstPictureFallback->start(kFirstPictureAtLatestMs);
    m_tickDueMs = steadyMs() + kFirstPictureAtLatestMs + m_job.recipe.everyMs;
    load();
}

void RecordCamera::stop(QDeadlineTimer deadline)
{
    const bool first = !std::exchange(m_stopped, true);
    m_tickDueMs.reset();
    m_status.state = RecipeStatus::State::Stopped;
    PageTimer->setEnabled(false);
    PictureTimer->setEnabled(false);
    if (m_firstPictureFallback)
        m_firstPictureFallback->stop();
    if (m_rest)
        m_rest->stop();
    m_returnWatch->stop();
    if (m_loadWait)
        m_loadWait->cancel();
    m_session.finishPictures(deadline);
    if (first && (m_watch || m_keeper || m_session.replaced() > 0 || m_outage.outages() > 0))
        logLine(runSummary(), false);
    if (first)
        emit statusChanged();
}

RunTally RecordCamera::tally() const
{
    RunTally tally = m_tally;
    if (m_watch)
        tally.skipped += m_watch->skipped();
    return tally;
}

QString RecordCamera::runSummary()
{
    const RunFailures &failures = m_session.failures();
    QString summary;
    if (m_watch) {
        FrameTotals totals = m_watch->totals(failures);
        totals.replaced = m_session.replaced();
        summary = runSummaryText(totals);
    } else {
        summary = QStringLiteral("Run ended: %1 written, %2 failed")
                      .arg(m_keeper ? m_keeper->written() : m_tally.written)
                      .arg(failures.count());
        if (m_session.replaced() > 0)
            summary += QStringLiteral(", %1 replaced").arg(m_session.replaced());
    }
    if (m_keeper) {
        m_keeper->settle();
        summary += m_keeper->summaryNotes();
    }
    if (const QString outage = m_outage.summaryText(m_clock.elapsed()); !outage.isEmpty())
        summary += QStringLiteral(", ") + outage;
    return summary;
}

RecipeStatus RecordCamera::status() const
{
    RecipeStatus status = m_status;
    if (m_watch)
        status.stalledSince = m_watch->stalledSince();
    return status;
}

std::optional<qint64> RecordCamera::tickDueMs() const
{
    return m_tickDueMs;
}

void RecordCamera::logLine(const QString &what, bool keptWhenQuiet)
{
    m_log(runLogLine(QDateTime::currentDateTime(), m_job.name, what, 0), keptWhenQuiet);
}

void RecordCamera::load()
{
    if (m_job.recipe.url.isEmpty())
        m_browser->GoHome();
    else
        m_browser->Navigate(m_job.recipe.url);
}

void RecordCamera::startPictures()
{
    if (m_stopped || PictureTimer->Enabled() || (m_rest && m_rest->started()))
        return;
    if (m_firstPictureFallback)
        m_firstPictureFallback->stop();
    // The first picture comes one full interval from now.
    if (m_rest) {
        m_rest->start();
    } else {
        PictureTimer->setInterval(quint32(m_job.recipe.everyMs));
        PictureTimer->setEnabled(true);
    }
    m_tickDueMs = steadyMs() + m_job.recipe.everyMs;
    m_status.state = RecipeStatus::State::Recording;
    emit statusChanged();
}

CaptureSession::FrontEnd RecordCamera::captureFrontEnd()
{
    CaptureSession::FrontEnd frontEnd;
    frontEnd.numbered = [this](qint32 number) {
        if (m_watch)
            m_watch->numbered(number);
    };
    frontEnd.grab = [this] {
        if (!m_restPicture.isNull())
            return std::exchange(m_restPicture, QImage());
        return grabArea();
    };
    frontEnd.name = [this] {
        return m_session.run().fileName(m_job.recipe.pattern,
                                        [this] { return m_browser->LocationName(); });
    };
    frontEnd.overwrite = [this] { return m_job.recipe.overwrite; };
    frontEnd.done = [this](const TickResult &result) {
        switch (result.fate) {
        case TickResult::Fate::Written:
            ++m_tally.written;
            break;
        case TickResult::Fate::Skipped:
            ++m_tally.skipped;
            break;
        case TickResult::Fate::Failed:
            ++m_tally.failed;
            break;
        }
        if (m_watch)
            m_watch->done(result);
    };
    return frontEnd;
}

QImage RecordCamera::grabArea()
{
    QWidget *area = m_browser->widget();
    TRect selection;
    if (const auto &a = m_job.recipe.area)
        selection = TRect{a->left(), a->top(), a->left() + a->width(), a->top() + a->height()};
    return grabPage(area, captureSource(m_job.recipe.area.has_value(), selection,
                                        area ? area->size() : QSize()));
}

void RecordCamera::PictureTimerTimer()
{
    m_tickDueMs = steadyMs() + m_job.recipe.everyMs;
    if (missedWhileDown())
        return;
    // The disk is nearly full: no picture, the tick is counted.
    if (m_keeper && m_keeper->pauseTick())
        return;
    // A tick that falls into a load waits for its page (`ready`).
    if (m_loadWait && !m_loadWait->mayCapture())
        return;
    takePicture();
}

bool RecordCamera::missedWhileDown()
{
    if (!m_outage.down() &&
        !(m_outage.settling() && m_outage.showsDownPicture(grabWhole(), m_clock.elapsed())))
        return false;
    m_outage.missTick();
    return true;
}

QImage RecordCamera::grabWhole()
{
    QWidget *area = m_browser->widget();
    return area ? grabPage(area, QRect(QPoint(0, 0), area->size())) : QImage();
}

void RecordCamera::takePicture()
{
    // No picture of an error page, nor of the page before it.
    if (missedWhileDown())
        return;
    const qint32 before = m_session.run().counter();
    m_session.tick();
    if (m_session.run().counter() != before) // else skipped: unchanged
        emit pictureTaken();
}

void RecordCamera::PageTimerTimer()
{
    reload();
}

void RecordCamera::reload()
{
    // A page that never loaded is asked for again; a loaded one reloads.
    if (m_pageFailing) {
        // What is on screen while down, so that no picture of it is taken
        // once the page is back.
        m_outage.setDownPicture(grabWhole());
        load();
    } else
        m_browser->Refresh();
}

void RecordCamera::WebBrowserNavigateError(const QString &url)
{
    // A failed load reports its completion right after this: that is no
    // sign of a page. A renderer that ended reports nothing more.
    m_loadFailed = true;
    QMetaObject::invokeMethod(
        this, [this] { m_loadFailed = false; }, Qt::QueuedConnection);
    const qint64 retry = m_outage.failed(m_clock.elapsed());
    QStringList why;
    if (const QString text = m_browser->ErrorText(); !text.isEmpty())
        why << text;
    if (!m_failureNote.isEmpty())
        why << std::exchange(m_failureNote, QString());
    const QString failure =
        QStringLiteral("page failed to load: ") + url +
        (why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why.join(QStringLiteral("; "))));
    logLine(failure + QStringLiteral("; next try in ") + lengthText(retry), true);
    m_status.pageFailed(failure, QDateTime::currentDateTime());
    emit statusChanged();
    m_pageFailing = true;
    PageTimer->setInterval(quint32(retry));
    PageTimer->setEnabled(!m_stopped);
    // Offline, nothing is reached anyway.
    if (!m_stopped && !m_job.recipe.offline)
        m_returnWatch->watch(QUrl(url));
    startPictures();
}

void RecordCamera::WebBrowserNavigateComplete2(const QString &)
{
    if (!m_loadFailed && !m_status.pageLoadedSince.isValid()) {
        m_status.pageLoaded(QDateTime::currentDateTime());
        emit statusChanged();
    }
    if (!std::exchange(m_loadFailed, false) && m_pageFailing) {
        // Up again; pictures wait until the page is drawn (PageDrawn).
        m_pageFailing = false;
        m_failureNote.clear();
        m_returnWatch->stop();
        PageTimer->setInterval(quint32(m_job.recipe.reloadEveryMs));
        PageTimer->setEnabled(!m_stopped && m_job.recipe.reload);
    }
    startPictures();
}

void RecordCamera::cameraAnswers()
{
    if (m_stopped || !m_pageFailing)
        return;
    logLine(QStringLiteral("the camera answers again; trying now"), false);
    // The next try, should this one fail too, comes a full delay later.
    PageTimer->setEnabled(false);
    PageTimer->setEnabled(true);
    reload();
}

void RecordCamera::WebBrowserPageDrawn()
{
    // The page of a good load is on screen: the record goes on. (A failed
    // load's error page is drawn too, and changes nothing.)
    if (m_pageFailing)
        return;
    const qint64 missed = m_outage.missedNow();
    if (const auto down = m_outage.loaded(m_clock.elapsed()))
        logLine(QStringLiteral("page loaded again after %1 down, %2 missed")
                    .arg(lengthText(*down))
                    .arg(missed),
                true);
}

void RecordCamera::WebBrowserAuthenticationRequired(AuthChallenge &challenge)
{
    // Never the user name or password in a line: only who asked.
    const QString who =
        challenge.realm.isEmpty()
            ? challenge.host
            : QStringLiteral("%1 (realm \"%2\")").arg(challenge.host, challenge.realm);
    if (challenge.proxy) {
        m_failureNote = QStringLiteral("the proxy %1 asks for a login").arg(who);
    } else if (m_job.recipe.user.isEmpty()) {
        m_failureNote =
            QStringLiteral("%1 asks for a login; the recipe has no user and password-file")
                .arg(who);
    } else if (challenge.refused > 0) {
        // Once per challenge: the answer was refused, asking again would loop.
        m_failureNote =
            QStringLiteral("the login to %1 was refused: wrong user or password").arg(who);
    } else {
        challenge.answered = true;
        challenge.user = m_job.recipe.user;
        challenge.password = m_job.password;
    }
}

void RecordCamera::WebBrowserCertificateError(const CertificateFacts &facts, bool &accept)
{
    accept = m_job.recipe.trustCertificates.contains(fingerprintText(facts.sha256));
    if (!accept)
        m_failureNote = QStringLiteral("not among the recipe's trust-certificate");
}

RecordSession::RecordSession(RecordPlan plan, BrowserFactory browsers, RecordLog log,
                             QObject *parent)
    : QObject(parent), m_plan(std::move(plan)), m_browsers(std::move(browsers)),
      m_log(std::move(log))
{
}

RecordSession::~RecordSession() = default;

void RecordSession::start()
{
    for (const RecordJob &job : std::as_const(m_plan.jobs)) {
        auto *camera = new RecordCamera(job, m_browsers(job), m_log, this);
        connect(camera, &RecordCamera::pictureTaken, this,
                [this, camera] { cameraTookPicture(camera); });
        m_cameras << camera;
    }
    for (RecordCamera *camera : std::as_const(m_cameras)) {
        const RecordJob &job = camera->job();
        if (const auto warning = repeatedNamesWarning(job.recipe.pattern, job.recipe.everyMs,
                                                      longestRunMs(m_plan, job)))
            m_log(runLogLine(QDateTime::currentDateTime(), job.name,
                             QStringLiteral("warning: ") + *warning, 0),
                  true);
        camera->start();
    }
    if (m_plan.forMs) {
        m_deadline = QDeadlineTimer(*m_plan.forMs, Qt::PreciseTimer);
        m_forTimer = new QTimer(this);
        m_forTimer->setSingleShot(true);
        m_forTimer->setTimerType(Qt::PreciseTimer);
        connect(m_forTimer, &QTimer::timeout, this, &RecordSession::waitForTheEnd);
        waitForTheEnd();
    }
}

void RecordSession::waitForTheEnd()
{
    // QTimer takes an int: a run of more than a few weeks waits in steps.
    const qint64 left = m_deadline.remainingTime();
    if (left <= 0)
        stop();
    else
        m_forTimer->start(int(std::min<qint64>(left, 24LL * 3600 * 1000)));
}

void RecordSession::stop()
{
    if (m_finished)
        return;
    m_finished = true;
    // One deadline for all: the recorder ends within two seconds of a SIGTERM.
    const QDeadlineTimer deadline(RecordCamera::kStopWaitMs);
    for (RecordCamera *camera : std::as_const(m_cameras))
        camera->stop(deadline);
    emit finished();
}

int RecordSession::exitStatus() const
{
    RunTally all;
    for (const RecordCamera *camera : m_cameras)
        all += camera->tally();
    return recordExitStatus(all);
}

void RecordSession::cameraTookPicture(RecordCamera *camera)
{
    if (!m_plan.count || camera->taken() != *m_plan.count)
        return;
    camera->stop();
    if (++m_done == m_cameras.size())
        stop();
}

} // namespace framelog

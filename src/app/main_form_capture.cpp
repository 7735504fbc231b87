// The main window's capture handlers: taking a picture, naming it and the
// timed capture run. The tick itself, its writer thread and the run's rules
// live in capture/capture_session.h and capture/capture_run.h.
#include "app/main_form.h"

#include "browse/address_combo_box.h"
#include "browse/browser_control.h"
#include "browse/load_wait.h"
#include "capture/page_capture.h"
#include "capture/run_watch.h"
#include "core/error_guard.h"
#include "settings/timer.h"
#include "ui/directory_edit.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>

#include <cstdio>

namespace framelog {

QRect TMainForm::captureArea(bool selectionActive) const
{
    QWidget *browser = WebBrowser->widget();
    return captureSource(selectionActive, FSelection, browser ? browser->size() : QSize());
}

void TMainForm::CapturePage()
{
    FCaptureBitmap.emplace();
    *FCaptureBitmap = grabPage(WebBrowser->widget(), captureArea(FSelectionActive));
}

QString TMainForm::ExpandFileNamePattern()
{
    return m_session.run().fileName(FileNameEdit->text(),
                                    [this] { return WebBrowser->LocationName(); });
}

void TMainForm::FileNameEditChange()
{
    // The folder dialog's sequence ends with a change of the text (or with
    // the text it started from): from then on the field is the pattern.
    m_patternBeforeDialog.reset();
    Label5->setText(ExpandFileNamePattern());
}

void TMainForm::CaptureTBXItemClick()
{
    const bool capturing = CaptureTBXItem->isChecked();
    // A run captures the live page: area mode is left as a user click
    // would leave it, keeping the selection in force.
    if (capturing && SelectAreaTBXItem->isChecked())
        SelectAreaTBXItem->trigger();
    SetNavigationEnabled(!capturing);
    if (capturing) {
        m_session.startRun();
        startWatch();
        setStatusText(QStringLiteral("Capturing..."));
    } else {
        stopWatch();
    }
    // A timer that starts counts a full interval before its first tick.
    PictureTimer->setEnabled(capturing);
    SelectAreaTBXItem->setEnabled(!capturing);
}

CaptureSession::FrontEnd TMainForm::captureFrontEnd()
{
    CaptureSession::FrontEnd frontEnd;
    frontEnd.numbered = [this](qint32 picture) {
        FCaptureCounter = picture;
        if (m_runWatch)
            m_runWatch->numbered(picture);
        setStatusText(runStatus(picture));
    };
    // A fresh bitmap each tick: the writer still reads the one before.
    frontEnd.grab = [this] {
        CapturePage();
        return *FCaptureBitmap;
    };
    frontEnd.name = [this] {
        const QString shown = ExpandFileNamePattern();
        Label5->setText(shown);
        return m_patternBeforeDialog
                   ? m_session.run().fileName(*m_patternBeforeDialog,
                                              [this] { return WebBrowser->LocationName(); })
                   : shown;
    };
    frontEnd.overwrite = [this] { return TBXCheckBox2->isChecked(); };
    frontEnd.done = [this](const TickResult &result) { pictureDone(result); };
    return frontEnd;
}

void TMainForm::startWatch()
{
    m_runNote.clear();
    if (!m_watchOptions.any() && !m_waitForLoad)
        return;
    // One watch per run: a new run compares with nothing and counts anew.
    RunWatch::Hooks hooks;
    hooks.reload = [this] { WebBrowser->Refresh(); };
    hooks.report = [this](const QString &text) {
        logLine(text);
        // The stall, and then its end, stay in the status line.
        if (text != stallReloadText())
            m_runNote = text;
        setStatusText(runStatus(FCaptureCounter));
    };
    hooks.skipped = [this](qint64) { setStatusText(runStatus(FCaptureCounter)); };
    m_runWatch = std::make_unique<RunWatch>(m_watchOptions, std::move(hooks));
    m_session.setJudge([this](const QImage &picture) { return m_runWatch->judge(picture); });
    if (m_waitForLoad) {
        m_loadWait = std::make_unique<LoadWait>(WebBrowser, *m_waitForLoad);
        connect(m_loadWait.get(), &LoadWait::ready, this, [this](bool timedOut) {
            guarded([&] {
                if (timedOut)
                    logLine(loadWaitTimedOutText(m_loadWait->limit()));
                m_session.tick();
            });
        });
    }
}

void TMainForm::stopWatch()
{
    if (!m_runWatch)
        return;
    m_loadWait.reset(); // a held capture is dropped
    // The summary counts every picture of the run.
    m_session.finishPictures(QDeadlineTimer(CaptureSession::kQuitWaitMs));
    logLine(m_runWatch->summary(m_session.failures()));
    m_session.setJudge({});
    m_runWatch.reset();
}

QString TMainForm::runStatus(qint32 picture)
{
    QStringList notes;
    if (m_runWatch && m_runWatch->skipped() > 0)
        notes << skippedText(m_runWatch->skipped());
    if (!m_runNote.isEmpty())
        notes << m_runNote;
    // The run goes on through a failed load (it captures what the browser
    // shows), and says so.
    if (const QString failure = WebBrowser->ErrorText(); !failure.isEmpty())
        notes << QStringLiteral("page failed to load: ") + failure;
    return m_session.failures().status(picture, notes);
}

void TMainForm::logLine(const QString &what) const
{
    const QString line = runLogLine(QDateTime::currentDateTime(), m_session.logName, what, 0);
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    std::fflush(stderr);
}

void TMainForm::pictureDone(const TickResult &result)
{
    if (m_runWatch)
        m_runWatch->done(result);
    if (result.fate != TickResult::Fate::Failed)
        return;
    // The latest number stays in the status: a failure may come back after
    // later ticks began.
    setStatusText(runStatus(FCaptureCounter));
    // Every tick takes its picture, also while the box is open (its modal
    // loop delivers ticks and results); one box at a time says that
    // something is wrong, the status bar and the log say how often.
    if (m_runErrorBoxOpen)
        return;
    m_runErrorBoxOpen = true;
    const auto closed = qScopeGuard([this] { m_runErrorBoxOpen = false; });
    ErrorBox::show(result.error);
}

void TMainForm::PictureTimerTimer()
{
    guarded([this] {
        // A tick that falls into a load waits for its page (`ready`).
        if (m_loadWait && !m_loadWait->mayCapture())
            return;
        m_session.tick();
    });
}

void TMainForm::SetNavigationEnabled(bool enabled)
{
    ViewGoToTBXSubmenuItem->menuAction()->setEnabled(enabled);
    ViewStopTBXItem->setEnabled(enabled);
    ViewRefreshTBXItem->setEnabled(enabled);
    BackTBXItem->setEnabled(enabled);
    ForwardTBXItem->setEnabled(enabled);
    StopTBXItem->setEnabled(enabled);
    RefreshTBXItem->setEnabled(enabled);
    HomeTBXItem->setEnabled(enabled);
    AddressComboBoxItem->setEnabled(enabled);
    GoTBXItem->setEnabled(enabled);
}

} // namespace framelog

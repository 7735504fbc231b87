// The main window's capture handlers: taking a picture, naming it and the
// timed capture run. The tick itself, its writer thread and the run's rules
// live in capture/capture_session.h and capture/capture_run.h.
#include "app/main_form.h"

#include "browse/address_combo_box.h"
#include "browse/browser_control.h"
#include "capture/page_capture.h"
#include "core/error_guard.h"
#include "settings/timer.h"
#include "ui/directory_edit.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>

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
        setStatusText(QStringLiteral("Capturing..."));
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
        setStatusText(m_session.failures().status(picture));
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

void TMainForm::pictureDone(const TickResult &result)
{
    if (result.fate != TickResult::Fate::Failed)
        return;
    // The latest number stays in the status: a failure may come back after
    // later ticks began.
    setStatusText(m_session.failures().status(FCaptureCounter));
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
    guarded([this] { m_session.tick(); });
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

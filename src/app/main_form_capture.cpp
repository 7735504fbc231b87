// The main window's capture handlers: taking a picture, naming it and the
// timed capture run. The rules live in capture/capture_run.h.
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
    return m_run.fileName(FileNameEdit->text(), [this] { return WebBrowser->LocationName(); });
}

void TMainForm::FileNameEditChange()
{
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
    if (capturing)
        setStatusText(QStringLiteral("Capturing..."));
    // A timer that starts counts a full interval before its first tick.
    PictureTimer->setEnabled(capturing);
    SelectAreaTBXItem->setEnabled(!capturing);
}

void TMainForm::PictureTimerTimer()
{
    // A failing picture shows its error box before the tick returns, and
    // ticks that the box's modal loop delivers meanwhile return at once: a
    // lasting error (a missing folder) shows one box at a time instead of
    // stacking them, and the run goes on with the first tick after the box
    // is closed.
    if (FTakingPicture)
        return;
    FTakingPicture = true;
    const auto done = qScopeGuard([this] { FTakingPicture = false; });
    guarded([this] {
        FCaptureCounter = m_run.advance();
        setStatusText(QStringLiteral("Capturing (#%1)...").arg(FCaptureCounter));
        CapturePage();
        const QString fileName = ExpandFileNamePattern();
        Label5->setText(fileName);
        CaptureRun::save(*FCaptureBitmap, fileName, TBXCheckBox2->isChecked());
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

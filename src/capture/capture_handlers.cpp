// The main window's capture handlers: taking a picture, naming it and the
// timed capture run.
#include "app/main_form.h"

#include "browse/address_combo_box.h"
#include "browse/browser_control.h"
#include "capture/file_name_pattern.h"
#include "capture/jpeg_image.h"
#include "capture/page_capture.h"
#include "settings/timer.h"
#include "ui/directory_edit.h"
#include "ui/error_box.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>

namespace framelog {

void TMainForm::CapturePage()
{
    FCaptureBitmap.reset();
    FCaptureBitmap.emplace();
    QWidget *browser = WebBrowser->widget();
    const QRect source =
        captureSource(FSelectionActive, FSelection, browser ? browser->size() : QSize());
    grabWidgetArea(browser, source, *FCaptureBitmap);
}

QString TMainForm::ExpandFileNamePattern()
{
    return expandFileNamePattern(
        FileNameEdit->text(), FCaptureCounter, &QDateTime::currentDateTime,
        [this] { return WebBrowser->LocationName(); },
        LocaleFormats::fromLocale(QLocale::system()));
}

void TMainForm::FileNameEditChange()
{
    Label5->setText(ExpandFileNamePattern());
}

void TMainForm::CaptureTBXItemClick()
{
    FCapturing = CaptureTBXItem->isChecked();
    // A run captures the live page: area mode is left as a user click
    // would leave it, keeping the selection in force.
    if (FCapturing && SelectAreaTBXItem->isChecked())
        SelectAreaTBXItem->trigger();
    SetNavigationEnabled(!FCapturing);
    if (FCapturing)
        setStatusText(QStringLiteral("Capturing..."));
    // A timer that starts counts a full interval before its first tick.
    PictureTimer->setEnabled(FCapturing);
    SelectAreaTBXItem->setEnabled(!CaptureTBXItem->isChecked());
}

namespace {

// One picture of the run. The image object is destroyed on every path; an
// error ends the picture at its step and leaves the counter and the status
// text as they were set.
void takePicture(TMainForm &w)
{
    TJPEGImage image;
    // Wraps from 2147483647 to -2147483648.
    w.FCaptureCounter = qint32(quint32(w.FCaptureCounter) + 1u);
    w.setStatusText(QStringLiteral("Capturing (#%1)...").arg(w.FCaptureCounter));
    w.CapturePage();
    image.Assign(*w.FCaptureBitmap);
    const QString fileName = w.ExpandFileNamePattern();
    w.Label5->setText(fileName);
    // A relative name is taken against the current directory, here and in
    // SaveToFile alike. A folder of that name is not a file: the save is
    // attempted and reports why it cannot be made.
    if (!w.TBXCheckBox2->isChecked() && QFileInfo(fileName).isFile())
        return;
    image.SaveToFile(fileName);
}

} // namespace

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
    guarded([this] { takePicture(*this); });
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

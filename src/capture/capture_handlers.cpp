// The main window's capture handlers: taking a picture, naming it and the
// timed capture run.
#include "app/main_form.h"

#include "browse/address_combo_box.h"
#include "browse/browser_control.h"
#include "capture/file_name_pattern.h"
#include "capture/page_capture.h"
#include "ui/directory_edit.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

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
        [this] { return WebBrowser->LocationName(); }, LocaleFormats::fromLocale(QLocale::system()));
}

void TMainForm::FileNameEditChange()
{
    Label5->setText(ExpandFileNamePattern());
}

void TMainForm::CaptureTBXItemClick() {}

void TMainForm::PictureTimerTimer() {}

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

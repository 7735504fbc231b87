// The main window's navigation, address bar, status, progress and title
// handlers.
#include "app/main_form.h"

#include "browse/address_combo_box.h"
#include "browse/browser_control.h"
#include "core/error_guard.h"
#include "core/secrets.h"
#include "ui/elided_label.h"
#include "ui/progress_bar.h"
#include "ui/window_title.h"

#include <QAction>
#include <QCheckBox>

namespace framelog {

void TMainForm::GoTBXItemClick()
{
    const QString address = AddressComboBoxItem->Text();
    if (address.isEmpty())
        return;
    // Not trimmed or checked: what the browser makes of it is its affair.
    WebBrowser->Navigate(address);
}

void TMainForm::openAddress(const QString &address)
{
    AddressComboBoxItem->setText(withoutPassword(address));
    WebBrowser->Navigate(address);
}

void TMainForm::BackTBXItemClick()
{
    WebBrowser->GoBack();
}
void TMainForm::ForwardTBXItemClick()
{
    WebBrowser->GoForward();
}
void TMainForm::StopTBXItemClick()
{
    WebBrowser->Stop();
}
void TMainForm::RefreshTBXItemClick()
{
    WebBrowser->Refresh();
}
void TMainForm::HomeTBXItemClick()
{
    WebBrowser->GoHome();
}

void TMainForm::FileWorkOfflineTBXItemClick()
{
    WebBrowser->setOffline(FileWorkOfflineTBXItem->isChecked());
}

void TMainForm::WebBrowserCommandStateChange(int command, bool enable)
{
    switch (command) {
    case 1:
        ForwardTBXItem->setEnabled(enable);
        ViewGoToForwardTBXItem->setEnabled(enable);
        break;
    case 2:
        BackTBXItem->setEnabled(enable);
        ViewGoToBackTBXItem->setEnabled(enable);
        break;
    default:
        // The set of commands changed: only Stop follows, from Busy.
        StopTBXItem->setEnabled(WebBrowser->Busy());
        ViewStopTBXItem->setEnabled(WebBrowser->Busy());
        break;
    }
}

void TMainForm::WebBrowserNewWindow2(bool &cancel)
{
    cancel = !AllowPopupsTBXCheckBox->isChecked();
}

void TMainForm::AddressComboBoxItemBeginEdit()
{
    FEditingAddress = true;
}

void TMainForm::AddressComboBoxItemAcceptText(const QString &, bool &accept)
{
    accept = true;
}

void TMainForm::AddressComboBoxItemChange()
{
    // A password typed into the address is used, never kept or shown.
    const QString text = withoutPassword(AddressComboBoxItem->Text());
    if (!AddressComboBoxItem->containsItem(text))
        AddressComboBoxItem->appendItem(text);
}

void TMainForm::FormKeyUp(int key, Qt::KeyboardModifiers)
{
    if (!FEditingAddress || (key != Qt::Key_Return && key != Qt::Key_Enter))
        return;
    FEditingAddress = false;
    GoTBXItem->trigger(); // does nothing while Go is disabled
}

void TMainForm::AddressToolbarMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    setShownWindowTitle(this, withoutPassword(AddressComboBoxItem->Text()));
}

void TMainForm::WebBrowserStatusTextChange(const QString &text)
{
    setStatusText(text);
}

void TMainForm::WebBrowserProgressChange(int progress, int progressMax)
{
    // The position first, so it is clamped against the previous range.
    ProgressBar->setPosition(progress);
    ProgressBar->setMax(progressMax);
}

void TMainForm::WebBrowserNavigateComplete2(const QString &reported)
{
    const QString url = withoutPassword(reported);
    const QString name = WebBrowser->LocationName();
    setShownWindowTitle(this, QLatin1Char('[') + name + QStringLiteral("] - ") + kApplicationTitle);
    AddressComboBoxItem->setText(url);
    if (!AddressComboBoxItem->containsItem(url))
        AddressComboBoxItem->appendItem(url);
}

} // namespace framelog

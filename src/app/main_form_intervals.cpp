// The main window's interval field and timer handlers.
#include "app/main_form.h"

#include "browse/browser_control.h"
#include "settings/interval_units.h"
#include "settings/timer.h"
#include "ui/spin_edit_item.h"

#include <QCheckBox>

namespace framelog {

void TMainForm::TBXSpinEditItem2Convert(TTBXSpinEditItem *sender, const QString &,
                                        const QString &postfix, long double &value, bool &)
{
    value = convertToFieldUnit(sender->postfix(), postfix, value);
}

// Each timer follows its field's committed value, reported once per commit
// and step; typing alone leaves the timers alone.
void TMainForm::TBXSpinEditItem2Change(long double seconds)
{
    PictureTimer->setInterval(pictureIntervalMs(seconds));
}

void TMainForm::TBXSpinEditItem1Change(long double minutes)
{
    PageTimer->setInterval(pageIntervalMs(minutes));
}

void TMainForm::TBXCheckBox1Change()
{
    const bool reload = TBXCheckBox1->isChecked();
    TBXSpinEditItem1->setEnabled(reload);
    PageTimer->setEnabled(reload);
    TBXSpinEditItem1Change(TBXSpinEditItem1->value());
}

void TMainForm::PageTimerTimer()
{
    WebBrowser->Refresh();
}

} // namespace framelog

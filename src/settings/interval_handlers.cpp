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

// Every commit and step ends with a change report carrying the new committed
// value; the reports while typing recompute from the unchanged value, which
// the timer takes as no change.
void TMainForm::TBXSpinEditItem2Change(const QString &)
{
    PictureTimer->setInterval(pictureIntervalMs(TBXSpinEditItem2->value()));
}

void TMainForm::TBXSpinEditItem1Change(const QString &)
{
    PageTimer->setInterval(pageIntervalMs(TBXSpinEditItem1->value()));
}

void TMainForm::TBXSpinEditItem2Step(int, long double, long double &)
{
    PictureTimer->setInterval(pictureIntervalMs(TBXSpinEditItem2->value()));
}

void TMainForm::TBXSpinEditItem1Step(int, long double, long double &)
{
    PageTimer->setInterval(pageIntervalMs(TBXSpinEditItem1->value()));
}

void TMainForm::TBXCheckBox1Change()
{
    const bool reload = TBXCheckBox1->isChecked();
    TBXSpinEditItem1->setEnabled(reload);
    PageTimer->setEnabled(reload);
    PageTimer->setInterval(pageIntervalMs(TBXSpinEditItem1->value()));
}

void TMainForm::PageTimerTimer()
{
    WebBrowser->Refresh();
}

} // namespace framelog

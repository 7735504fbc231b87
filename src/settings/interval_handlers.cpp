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

// Each timer's interval comes from its field's committed value. Every commit
// and step ends with a change report carrying the new value; the reports while
// typing recompute from the unchanged value, which the timer takes as no change.
void TMainForm::updatePictureInterval()
{
    PictureTimer->setInterval(pictureIntervalMs(TBXSpinEditItem2->value()));
}

void TMainForm::updatePageInterval()
{
    PageTimer->setInterval(pageIntervalMs(TBXSpinEditItem1->value()));
}

void TMainForm::TBXSpinEditItem2Change(const QString &)
{
    updatePictureInterval();
}
void TMainForm::TBXSpinEditItem1Change(const QString &)
{
    updatePageInterval();
}
void TMainForm::TBXSpinEditItem2Step(int, long double, long double &)
{
    updatePictureInterval();
}
void TMainForm::TBXSpinEditItem1Step(int, long double, long double &)
{
    updatePageInterval();
}

void TMainForm::TBXCheckBox1Change()
{
    const bool reload = TBXCheckBox1->isChecked();
    TBXSpinEditItem1->setEnabled(reload);
    PageTimer->setEnabled(reload);
    updatePageInterval();
}

void TMainForm::PageTimerTimer()
{
    WebBrowser->Refresh();
}

} // namespace framelog

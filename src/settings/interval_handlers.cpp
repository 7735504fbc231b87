// The main window's interval field and timer handlers.
#include "app/main_form.h"

#include "browse/browser_control.h"

namespace framelog {

void TMainForm::TBXSpinEditItem2Convert(TTBXSpinEditItem *, const QString &, const QString &,
                                        long double &, bool &)
{
}
void TMainForm::TBXSpinEditItem2Change(const QString &) {}
void TMainForm::TBXSpinEditItem1Change(const QString &) {}
void TMainForm::TBXSpinEditItem2Step(int, long double, long double &) {}
void TMainForm::TBXSpinEditItem1Step(int, long double, long double &) {}
void TMainForm::TBXCheckBox1Change() {}
void TMainForm::PageTimerTimer()
{
    WebBrowser->Refresh();
}

} // namespace framelog

// The window started with a recipe: the controls take its values.
#include "app/main_form.h"

#include "browse/address_combo_box.h"
#include "browse/browser_control.h"
#include "core/secrets.h"
#include "settings/recipe.h"
#include "ui/directory_edit.h"
#include "ui/spin_edit_item.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QStatusBar>

namespace framelog {

void TMainForm::applyRecipe(const Recipe &recipe)
{
    if (!recipe.url.isEmpty())
        openAddress(recipe.url);
    m_trustedCertificates.clear();
    for (const QString &fingerprint : recipe.trustCertificates)
        m_trustedCertificates << parseFingerprint(fingerprint).value_or(QByteArray());
    FileNameEdit->setText(recipe.pattern);
    Label5->setText(ExpandFileNamePattern());
    TBXCheckBox2->setChecked(recipe.overwrite);

    QStringList changed;
    const auto setField = [&changed](TTBXSpinEditItem *field, const QString &caption,
                                     long double value) {
        field->setValue(value);
        if (field->value() != value)
            changed << caption + QLatin1Char(' ') + field->text();
    };
    setField(TBXSpinEditItem2, Label3->text(), recipe.everyMs / 1000.0L);
    TBXSpinEditItem2Change(TBXSpinEditItem2->value());
    setField(TBXSpinEditItem1, TBXCheckBox1->text(), recipe.reloadEveryMs / 60000.0L);
    // A change of the box recomputes the page timer itself.
    TBXCheckBox1->setChecked(recipe.reload);
    TBXSpinEditItem1Change(TBXSpinEditItem1->value());

    if (const auto &area = recipe.area) {
        FSelection = {area->left(), area->top(), area->left() + area->width(),
                      area->top() + area->height()};
        FSelectionActive = true;
    }
    AllowPopupsTBXCheckBox->setChecked(recipe.popups);
    // Used by the runs from now on.
    m_watchOptions = {};
    m_watchOptions.skipUnchanged = recipe.skipUnchanged;
    if (recipe.stallAfterMs)
        m_watchOptions.stallAfter = std::chrono::milliseconds(*recipe.stallAfterMs);
    if (recipe.onStall == Recipe::OnStall::Reload)
        m_watchOptions.onStall = FrameWatchOptions::OnStall::Reload;
    m_waitForLoad.reset();
    if (recipe.waitForLoadMs)
        m_waitForLoad = std::chrono::milliseconds(*recipe.waitForLoadMs);
    FileWorkOfflineTBXItem->setChecked(recipe.offline);
    FileWorkOfflineTBXItemClick();

    if (!changed.isEmpty())
        StatusBar->showMessage(tr("Recipe values held to the fields: %1").arg(changed.join(u", ")),
                               30000);
}

} // namespace framelog

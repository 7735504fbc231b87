// The main window as assistive technology meets it, through Qt's
// accessibility interfaces: every control named with a role, the items a
// screen reader toggles running the same handlers as a click, and the
// interval fields read as they are shown.
#include "form_fixture.h"

#include "browse/address_combo_box.h"
#include "settings/timer.h"
#include "ui/elided_label.h"
#include "ui/progress_bar.h"
#include "ui/spin_edit_item.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>

using namespace framelog;
using namespace framelog::test;

namespace {

// Roles a user acts on, which must say what they are.
bool isInteractive(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::MenuItem:
    case QAccessible::ProgressBar:
    case QAccessible::ScrollBar:
    case QAccessible::Slider:
    case QAccessible::Link:
        return true;
    default:
        return false;
    }
}

QString describe(QAccessibleInterface *iface)
{
    QObject *object = iface->object();
    return QStringLiteral("%1 (%2, role %3)")
        .arg(object ? object->objectName() : QStringLiteral("?"),
             object ? QLatin1String(object->metaObject()->className()) : QLatin1String("item"))
        .arg(int(iface->role()));
}

// Every control below `iface` that a user can reach, with what is wrong with
// it, if anything.
void walk(QAccessibleInterface *iface, QStringList &faults, int &checked)
{
    const QAccessible::State state = iface->state();
    if (state.invisible)
        return;
    const QAccessible::Role role = iface->role();
    if (role == QAccessible::Separator)
        return;
    const bool reachable = state.focusable || isInteractive(role);
    const bool shown = role == QAccessible::StaticText && !state.invisible;
    if (reachable || shown) {
        ++checked;
        if (iface->text(QAccessible::Name).trimmed().isEmpty())
            faults << QStringLiteral("no name: ") + describe(iface);
        if (role == QAccessible::NoRole || role == QAccessible::Client)
            faults << QStringLiteral("no role: ") + describe(iface);
    }
    for (int i = 0; i < iface->childCount(); ++i) {
        if (QAccessibleInterface *child = iface->child(i))
            walk(child, faults, checked);
    }
}

// The accessible menu item of `item` in `menu`.
QAccessibleInterface *menuItem(QMenu *menu, QAction *item)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(menu);
    for (int i = 0; iface && i < iface->childCount(); ++i) {
        QAccessibleInterface *child = iface->child(i);
        if (child && child->object() == item)
            return child;
    }
    return nullptr;
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void everyControlHasANameAndARole();
    void itemsDoWhatAClickDoes_data();
    void itemsDoWhatAClickDoes();
    void intervalFieldsReadAsShown_data();
    void intervalFieldsReadAsShown();
};

void TestAccessibility::everyControlHasANameAndARole()
{
    FormFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    QStringList faults;
    int checked = 0;
    walk(QAccessible::queryAccessibleInterface(f.form.get()), faults, checked);
    // The menus' items, which are not children until a menu opens.
    for (QMenu *menu : f.form->TBXToolbar1->findChildren<QMenu *>())
        walk(QAccessible::queryAccessibleInterface(menu), faults, checked);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    QVERIFY2(checked > 30, qPrintable(QString::number(checked))); // the walk reached the window

    // The ones named in passing are there with the names a user hears.
    const auto nameOf = [](QObject *object) {
        return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
    };
    // On X11 a combo box's name is its text; its label is a relation.
    const auto labels = QAccessible::queryAccessibleInterface(f.form->AddressComboBoxItem)
                            ->relations(QAccessible::Label);
    QVERIFY(!labels.isEmpty());
    QCOMPARE(labels.first().first->object(), f.form->TBXLabelItem1);
    QCOMPARE(nameOf(f.form->AddressComboBoxItem->lineEdit()), QStringLiteral("Address"));
    QCOMPARE(nameOf(f.form->ProgressBar), QStringLiteral("Page loading progress"));
    QCOMPARE(nameOf(f.form->StatusPanel0), QStringLiteral("Done"));
    QCOMPARE(
        QAccessible::queryAccessibleInterface(f.form->StatusPanel0)->text(QAccessible::Description),
        QStringLiteral("Status"));
    QVERIFY(!nameOf(f.form->StatusPanel2).isEmpty());
    QVERIFY(!nameOf(f.form->findChild<QWidget *>(QStringLiteral("folderButton"))).isEmpty());
}

void TestAccessibility::itemsDoWhatAClickDoes_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("how"); // "toolbar Toggle", "toolbar Press", "menu Press"
    QTest::newRow("Capture, Toggle") << "CaptureTBXItem"
                                     << "toolbar Toggle";
    QTest::newRow("Capture, Press") << "CaptureTBXItem"
                                    << "toolbar Press";
    QTest::newRow("Area, Toggle") << "SelectAreaTBXItem"
                                  << "toolbar Toggle";
    QTest::newRow("Work Offline") << "FileWorkOfflineTBXItem"
                                  << "menu Press";
    QTest::newRow("Preview") << "ViewPreviewTBXItem"
                             << "menu Press";
}

void TestAccessibility::itemsDoWhatAClickDoes()
{
    QFETCH(QString, item);
    QFETCH(QString, how);
    FormFixture f;
    TMainForm &w = *f.form;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *action = w.findChild<QAction *>(item);
    QVERIFY(action);
    f.browser->calls.clear();
    if (how.startsWith(QLatin1String("toolbar"))) {
        QWidget *button = w.StandardToolbar->widgetForAction(action);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(button);
        QVERIFY(iface->state().checkable);
        QVERIFY(!iface->state().checked);
        const QString name = how.endsWith(QLatin1String("Toggle"))
                                 ? QAccessibleActionInterface::toggleAction()
                                 : QAccessibleActionInterface::pressAction();
        QVERIFY(iface->actionInterface()->actionNames().contains(
                    QAccessibleActionInterface::toggleAction()) ||
                name == QAccessibleActionInterface::pressAction());
        iface->actionInterface()->doAction(name);
        QTRY_VERIFY(iface->state().checked);
    } else {
        QMenu *menu = qobject_cast<QMenu *>(action->associatedObjects().value(0));
        QVERIFY(menu);
        QAccessibleInterface *iface = menuItem(menu, action);
        QVERIFY(iface);
        iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
    QTRY_VERIFY(action->isChecked());

    // The handler ran, once.
    if (item == QLatin1String("CaptureTBXItem")) {
        QVERIFY(w.PictureTimer->Enabled());
        QVERIFY(!w.SelectAreaTBXItem->isEnabled());
    } else if (item == QLatin1String("SelectAreaTBXItem")) {
        QVERIFY(!w.BackTBXItem->isEnabled()); // navigation off while selecting
        QVERIFY(w.FCaptureBitmap.has_value());
    } else if (item == QLatin1String("FileWorkOfflineTBXItem")) {
        QCOMPARE(f.browser->calls, QStringList{"Offline(-1)"});
    } else {
        QTRY_VERIFY(f.preview->isVisible());
    }
}

void TestAccessibility::intervalFieldsReadAsShown_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("unit");
    QTest::newRow("picture") << "TBXSpinEditItem2"
                             << "Label3"
                             << "Take picture every"
                             << "1.0 s"
                             << "seconds";
    QTest::newRow("reload") << "TBXSpinEditItem1"
                            << "TBXCheckBox1"
                            << "Reload every"
                            << "45.00 min"
                            << "minutes";
}

void TestAccessibility::intervalFieldsReadAsShown()
{
    QFETCH(QString, field);
    QFETCH(QString, label);
    QFETCH(QString, name);
    QFETCH(QString, shown);
    QFETCH(QString, unit);
    FormFixture f;
    auto *item = f.form->findChild<TTBXSpinEditItem *>(field);
    QVERIFY(item);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(item);
    QCOMPARE(iface->text(QAccessible::Name), name);
    QVERIFY2(iface->text(QAccessible::Description).contains(unit),
             qPrintable(iface->text(QAccessible::Description)));
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), int(shown.size()));
    QCOMPARE(text->text(0, text->characterCount()), shown);
    QVERIFY(text->characterRect(0).isValid());

    const auto labels = iface->relations(QAccessible::Label);
    QVERIFY(std::any_of(labels.cbegin(), labels.cend(), [&](const auto &relation) {
        return relation.first->object() == f.form->findChild<QWidget *>(label);
    }));

    // The editor, which has the focus while it is open, carries the name.
    f.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QTest::mouseClick(item, Qt::LeftButton, {}, item->textRect().center());
    QVERIFY(item->isEditing());
    QCOMPARE(
        QAccessible::queryAccessibleInterface(QApplication::focusWidget())->text(QAccessible::Name),
        name);
}

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"

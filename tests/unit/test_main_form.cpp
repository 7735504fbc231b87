// The main window as it starts: layout, design values, item states, and the
// window-wide commands.
#include "form_fixture.h"

#include "browse/address_combo_box.h"
#include "settings/timer.h"
#include "ui/directory_edit.h"
#include "ui/elided_label.h"
#include "ui/progress_bar.h"
#include "ui/spin_edit_item.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

using namespace framelog;
using namespace framelog::test;

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { shared = std::make_unique<FormFixture>(); }
    void cleanupTestCase() { shared.reset(); }
    void startState();
    void everyControlIsNamed_data();
    void everyControlIsNamed();
    void itemStates_data();
    void itemStates();
    void settingsDesignValues();
    void menuShortcutsAndCaptions_data();
    void menuShortcutsAndCaptions();
    void formCreateSendsTheBrowserHome();
    void aboutBox();
    void stayOnTopKeepsThePage();
    void closingTheSettingsPanelHidesIt();
    void visibilityToggles_data();
    void visibilityToggles();
    void addressFieldWidthFollowsTheToolbar();
    void handlerErrorsReachTheErrorBox();

private:
    // For the read-only table tests: one window serves every row.
    std::unique_ptr<FormFixture> shared;
};

void TestMainForm::startState()
{
    FormFixture f;
    TMainForm &w = *f.form;
    QCOMPARE(w.windowTitle(), QStringLiteral("Framelog"));
    QCOMPARE(w.statusText(), QStringLiteral("Done"));
    QCOMPARE(w.ProgressBar->minimum(), 0);
    QCOMPARE(w.ProgressBar->maximum(), 100);
    QCOMPARE(w.ProgressBar->value(), 50);
    QCOMPARE(w.AddressComboBoxItem->items(),
             QStringList({"line 1", "the line 2", "this is line 3"}));
    QVERIFY(!w.AddressComboBoxItem->Text().isEmpty());
    QVERIFY(!w.CaptureTBXItem->isChecked());
    QVERIFY(!w.FSelecting);
    QVERIFY(!w.FSelectionActive);
    QVERIFY(!w.FEditingAddress);
    QCOMPARE(w.FSelection, TRect{});
    QVERIFY(!w.FCaptureBitmap.has_value());
    QCOMPARE(w.FCaptureCounter, 0);
    QVERIFY(w.PageTimer->Enabled());
    QVERIFY(!w.PictureTimer->Enabled());
    QCOMPARE(w.PictureTimer->Interval(), 1000u);
    QCOMPARE(w.geometry(), QRect(344, 120, 789, 543));
    QCOMPARE(w.ImageList1.size(), 8);
    QVERIFY(!w.GoButtonImages.value(0).isNull());
    // The browser is in view, the selection panel behind it.
    const auto stacked = w.BrowserArea->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(stacked.last(), w.WebBrowser->widget());
    QVERIFY(stacked.indexOf(w.SelectAreaPanel) < stacked.indexOf(w.WebBrowser->widget()));
}

void TestMainForm::everyControlIsNamed_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"TBXToolbar1",
                             "FileWorkOfflineTBXItem",
                             "TBXItem2",
                             "ViewGoToTBXSubmenuItem",
                             "ViewGoToBackTBXItem",
                             "ViewGoToForwardTBXItem",
                             "ViewGoToHomeTBXItem",
                             "ViewStopTBXItem",
                             "ViewRefreshTBXItem",
                             "ViewPreviewTBXItem",
                             "TBXSubmenuItem3",
                             "ViewToolbarsAddressBarTBXVisibilityToggleItem",
                             "ViewToolbarsStandardTBXVisibilityToggleItem",
                             "TBXVisibilityToggleItem1",
                             "TBXItem3",
                             "StandardToolbar",
                             "BackTBXItem",
                             "ForwardTBXItem",
                             "StopTBXItem",
                             "RefreshTBXItem",
                             "HomeTBXItem",
                             "TBXSeparatorItem5",
                             "SelectAreaTBXItem",
                             "CaptureTBXItem",
                             "TBXItem1",
                             "AddressToolbar",
                             "TBXLabelItem1",
                             "AddressComboBoxItem",
                             "GoTBXItem",
                             "SettingsDockablePanel",
                             "SettingsPageScroller",
                             "NewOpenSpecificationTBXLabel",
                             "TBXAlignmentPanel4",
                             "Label1",
                             "FileNameEdit",
                             "Label5",
                             "Label2",
                             "Label4",
                             "TBXCheckBox2",
                             "TBXLabel1",
                             "TBXAlignmentPanel1",
                             "Label3",
                             "TBXToolbar3",
                             "TBXSpinEditItem2",
                             "TBXCheckBox1",
                             "TBXToolbar2",
                             "TBXSpinEditItem1",
                             "TBXLabel2",
                             "StayOnTopTBXCheckBox",
                             "AllowPopupsTBXCheckBox",
                             "StatusBar",
                             "ProgressBar",
                             "WebBrowser",
                             "SelectAreaPanel",
                             "SelectAreaPaintBox",
                             "PageTimer",
                             "PictureTimer"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestMainForm::everyControlIsNamed()
{
    QFETCH(QString, name);
    QObject *found = shared->form->findChild<QObject *>(name);
    QVERIFY2(found, qPrintable(name));
}

void TestMainForm::itemStates_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("checked");
    auto row = [](const char *name, bool checkable = false, bool checked = false) {
        QTest::newRow(name) << QString::fromLatin1(name) << true << checkable << checked;
    };
    row("FileWorkOfflineTBXItem", true, false);
    row("TBXItem2");
    row("ViewGoToBackTBXItem");
    row("ViewGoToForwardTBXItem");
    row("ViewGoToHomeTBXItem");
    row("ViewStopTBXItem");
    row("ViewRefreshTBXItem");
    row("ViewPreviewTBXItem", true, false);
    row("ViewToolbarsAddressBarTBXVisibilityToggleItem", true, true);
    row("ViewToolbarsStandardTBXVisibilityToggleItem", true, true);
    row("TBXVisibilityToggleItem1", true, true);
    row("TBXItem3");
    row("BackTBXItem");
    row("ForwardTBXItem");
    row("StopTBXItem");
    row("RefreshTBXItem");
    row("HomeTBXItem");
    row("SelectAreaTBXItem", true, false);
    row("CaptureTBXItem", true, false);
    row("TBXItem1");
    row("GoTBXItem");
}

void TestMainForm::itemStates()
{
    QFETCH(QString, name);
    QFETCH(bool, enabled);
    QFETCH(bool, checkable);
    QFETCH(bool, checked);
    auto *action = shared->form->findChild<QAction *>(name);
    QVERIFY2(action, qPrintable(name));
    QCOMPARE(action->isEnabled(), enabled);
    QCOMPARE(action->isCheckable(), checkable);
    QCOMPARE(action->isChecked(), checked);
}

void TestMainForm::settingsDesignValues()
{
    FormFixture f;
    TMainForm &w = *f.form;
    QCOMPARE(w.SettingsDockablePanel->windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(w.dockWidgetArea(w.SettingsDockablePanel), Qt::RightDockWidgetArea);
    QCOMPARE(w.SettingsDockablePanel->allowedAreas(),
             Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    QVERIFY(w.SettingsDockablePanel->features() & QDockWidget::DockWidgetClosable);
    QCOMPARE(w.NewOpenSpecificationTBXLabel->text(), QStringLiteral("Saving"));
    QCOMPARE(w.TBXLabel1->text(), QStringLiteral("Update"));
    QCOMPARE(w.TBXLabel2->text(), QStringLiteral("Miscellaneous"));
    QVERIFY(w.TBXLabel1->font().bold() && w.TBXLabel1->font().underline());
    QCOMPARE(w.Label1->text(), QStringLiteral("Filename format:"));
    QCOMPARE(w.FileNameEdit->text(), QStringLiteral("img%time%.jpg"));
    QVERIFY(w.Label5->text() != QStringLiteral("Label5"));
    QCOMPARE(w.Label2->text().split('\n'),
             QStringList({"Replace patterns:", "    %counter%", "    %title%", "    %time%",
                          "    %shorttime%", "    %date%,", "    %shortdate%"}));
    QCOMPARE(w.Label4->text().split('\n'),
             QStringList({"", "- Image no.", "- Page title", "- Time (hh:mm:ss)", "- Time (hh:mm)",
                          "- Date (yyyy.mm.dd)", "- Date (mm.dd)"}));
    QCOMPARE(w.TBXCheckBox2->text(), QStringLiteral("Overwrite existing files"));
    QVERIFY(w.TBXCheckBox2->isChecked());
    QCOMPARE(w.Label3->text(), QStringLiteral("Take picture every"));
    QCOMPARE(w.TBXSpinEditItem2->text(), QStringLiteral("1.0 s"));
    QCOMPARE(double(w.TBXSpinEditItem2->value()), 1.0);
    QCOMPARE(w.TBXCheckBox1->text(), QStringLiteral("Reload every"));
    QVERIFY(w.TBXCheckBox1->isChecked());
    QCOMPARE(w.TBXSpinEditItem1->text(), QStringLiteral("45.00 min"));
    QCOMPARE(double(w.TBXSpinEditItem1->value()), 45.0);
    QCOMPARE(w.StayOnTopTBXCheckBox->text(), QStringLiteral("Stay on top"));
    QVERIFY(!w.StayOnTopTBXCheckBox->isChecked());
    QCOMPARE(w.AllowPopupsTBXCheckBox->text(), QStringLiteral("Allow popups"));
    QVERIFY(w.AllowPopupsTBXCheckBox->isChecked());
    // Labels lead the keyboard to their fields.
    QCOMPARE(w.Label1->buddy(), static_cast<QWidget *>(w.FileNameEdit));
    QCOMPARE(w.Label3->buddy(), static_cast<QWidget *>(w.TBXSpinEditItem2));
    QCOMPARE(w.TBXLabelItem1->text(), QStringLiteral(" Address "));
    QCOMPARE(w.ProgressBar->width(), 100);
}

void TestMainForm::menuShortcutsAndCaptions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QKeySequence>("shortcut");
    auto row = [](const char *name, const char *caption, QKeySequence key = {}) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(caption) << key;
    };
    row("FileWorkOfflineTBXItem", "Work Offline");
    row("TBXItem2", "E&xit", QKeySequence(Qt::ALT | Qt::Key_F4));
    row("ViewGoToBackTBXItem", "&Back", QKeySequence(Qt::ALT | Qt::Key_Left));
    row("ViewGoToForwardTBXItem", "&Forward", QKeySequence(Qt::ALT | Qt::Key_Right));
    row("ViewGoToHomeTBXItem", "&Home Page", QKeySequence(Qt::ALT | Qt::Key_Home));
    row("ViewStopTBXItem", "Stop", QKeySequence(Qt::Key_Escape));
    row("ViewRefreshTBXItem", "Refresh", QKeySequence(Qt::Key_F5));
    row("ViewPreviewTBXItem", "Preview");
    row("ViewToolbarsAddressBarTBXVisibilityToggleItem", "&Address Bar");
    row("ViewToolbarsStandardTBXVisibilityToggleItem", "&Standard");
    row("TBXVisibilityToggleItem1", "&Statusbar");
    row("TBXItem3", "&About...");
    row("BackTBXItem", "Back");
    row("ForwardTBXItem", "Forward");
    row("StopTBXItem", "Stop");
    row("RefreshTBXItem", "Refresh");
    row("HomeTBXItem", "Home");
    row("SelectAreaTBXItem", "Area");
    row("CaptureTBXItem", "Capture");
    row("TBXItem1", "Browse");
    row("GoTBXItem", "Go");
}

void TestMainForm::menuShortcutsAndCaptions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QKeySequence, shortcut);
    auto *action = shared->form->findChild<QAction *>(name);
    QVERIFY2(action, qPrintable(name));
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->shortcut(), shortcut);
}

void TestMainForm::formCreateSendsTheBrowserHome()
{
    FormFixture f;
    QCOMPARE(f.browser->calls.value(0), QStringLiteral("GoHome"));
    // The address field keeps its design text until a navigation completes.
    QVERIFY(f.form->AddressComboBoxItem->Text().startsWith(QStringLiteral("http")));
}

void TestMainForm::aboutBox()
{
    FormFixture f;
    QString caption, text;
    f.form->aboutPresenter = [&](const QString &c, const QString &t) {
        caption = c;
        text = t;
    };
    f.form->TBXItem3->trigger();
    QCOMPARE(caption, QStringLiteral("Framelog"));
    const QStringList lines = text.split('\n');
    QCOMPARE(lines.size(), 13);
    QCOMPARE(lines[0], QStringLiteral("Framelog"));
    QCOMPARE(lines[1], QStringLiteral("    Version 1.0.1 (beta)"));
    for (int empty : {2, 4, 7, 10})
        QVERIFY(lines[empty].isEmpty());
    QVERIFY(lines[3].contains(QStringLiteral(".example")));
    QVERIFY(lines[12].startsWith(QStringLiteral("    ")));
}

void TestMainForm::stayOnTopKeepsThePage()
{
    FormFixture f;
    TMainForm &w = *f.form;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget *page = w.WebBrowser->widget();
    const WId before = w.winId();
    const QStringList callsBefore = f.browser->calls;

    w.StayOnTopTBXCheckBox->setChecked(true);
    QVERIFY(w.windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    w.StayOnTopTBXCheckBox->setChecked(false);
    QVERIFY(!(w.windowHandle()->flags() & Qt::WindowStaysOnTopHint));

    QCOMPARE(w.winId(), before);             // the native window was not re-created
    QCOMPARE(w.WebBrowser->widget(), page);  // nor the page
    QCOMPARE(f.browser->calls, callsBefore); // nothing reloaded or navigated
    QVERIFY(w.isVisible());
}

void TestMainForm::closingTheSettingsPanelHidesIt()
{
    FormFixture f;
    TMainForm &w = *f.form;
    QVERIFY(w.SettingsDockablePanel->isVisible());
    w.SettingsDockablePanel->close();
    QVERIFY(!w.SettingsDockablePanel->isVisible());

    // No context menu anywhere offers it again: not on the menu bar, the
    // toolbars or the panel's title (the right button, or the menu key).
    for (QWidget *where :
         {static_cast<QWidget *>(w.TBXToolbar1), static_cast<QWidget *>(w.StandardToolbar),
          static_cast<QWidget *>(w.AddressToolbar),
          static_cast<QWidget *>(w.SettingsDockablePanel)}) {
        QWidget *menu = nullptr;
        // A menu would run its own loop; this closes it and tells.
        QTimer::singleShot(0, this, [&] {
            if ((menu = QApplication::activePopupWidget()))
                menu->close();
        });
        QContextMenuEvent press(QContextMenuEvent::Mouse, QPoint(4, 4),
                                where->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(where, &press);
        QTest::qWait(0);
        QVERIFY2(!menu, qPrintable(where->objectName()));
    }
    QVERIFY(!w.SettingsDockablePanel->isVisible());
}

void TestMainForm::visibilityToggles_data()
{
    QTest::addColumn<QString>("toggle");
    QTest::addColumn<QString>("target");
    QTest::newRow("address bar") << "ViewToolbarsAddressBarTBXVisibilityToggleItem"
                                 << "AddressToolbar";
    QTest::newRow("standard") << "ViewToolbarsStandardTBXVisibilityToggleItem"
                              << "StandardToolbar";
    QTest::newRow("status bar") << "TBXVisibilityToggleItem1"
                                << "StatusBar";
}

void TestMainForm::visibilityToggles()
{
    QFETCH(QString, toggle);
    QFETCH(QString, target);
    FormFixture f;
    auto *action = f.form->findChild<QAction *>(toggle);
    auto *widget = f.form->findChild<QWidget *>(target);
    QVERIFY(action && widget);
    QVERIFY(widget->isVisible());
    action->trigger();
    QVERIFY(!widget->isVisible());
    QVERIFY(!action->isChecked());
    action->trigger();
    QVERIFY(widget->isVisible());
    QVERIFY(action->isChecked());
}

void TestMainForm::addressFieldWidthFollowsTheToolbar()
{
    FormFixture f;
    TMainForm &w = *f.form;
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int docked = w.AddressToolbar->width();
    const int room = w.addressBarRoom();
    QVERIFY(room >= 100);
    QCOMPARE(w.AddressComboBoxItem->editWidth(), docked - room);
    QCOMPARE(w.AddressComboBoxItem->listMinimumWidth(), docked - room - 4);
    // Go stays on the bar, not in its overflow menu.
    QVERIFY(w.AddressToolbar->widgetForAction(w.GoTBXItem)->isVisible());

    w.resize(w.width() + 80, w.height());
    QTRY_COMPARE(w.AddressToolbar->width(), docked + 80);
    QCOMPARE(w.AddressComboBoxItem->editWidth(), docked + 80 - room);
    QCOMPARE(w.AddressComboBoxItem->listMinimumWidth(), docked + 76 - room);

    w.AddressToolbar->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    w.AddressToolbar->setFloatable(true);
    w.AddressToolbar->show();
    QVERIFY(w.AddressToolbar->isFloating());
    w.AddressToolbarResize();
    QCOMPARE(w.AddressComboBoxItem->editWidth(), 150);
    QCOMPARE(w.AddressComboBoxItem->listMinimumWidth(), 146);
}

void TestMainForm::handlerErrorsReachTheErrorBox()
{
    FormFixture f;
    // A refused maximum raises; the box shows it with the "." rule, the
    // window carries on.
    emit f.browser->ProgressChange(7, -1);
    QCOMPARE(f.errors.messages, QStringList({"TProgressBar property out of range."}));
    QCOMPARE(f.form->ProgressBar->value(), 7);
    QCOMPARE(f.form->ProgressBar->maximum(), 100);
}

QTEST_MAIN(TestMainForm)
#include "test_main_form.moc"

// Navigation from the toolbar, the View menu and the keyboard; Enter in the
// address field; the address list; Back/Forward/Stop states; popups; Work
// Offline; and the title set by a press on the Address Bar. The real window
// on the fake browser, driven with key and mouse events.
#include "form_fixture.h"

#include "browse/address_combo_box.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace framelog;
using namespace framelog::test;

namespace {

const QStringList kDesignEntries{"line 1", "the line 2", "this is line 3"};

QWidget *buttonOf(QToolBar *bar, QAction *item)
{
    return bar->widgetForAction(item);
}

// Sends a key stroke where a user's would go: to the widget with the focus.
void stroke(const QKeySequence &keys)
{
    const QKeyCombination combination = keys[0];
    QWidget *target = QApplication::focusWidget();
    QVERIFY2(target, "nothing has the focus");
    QTest::keyClick(target, combination.key(), combination.keyboardModifiers());
}

} // namespace

class TestNavigation : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void commands_data();
    void commands();
    void go_data();
    void go();
    void enterPath_data();
    void enterPath();
    void escape_data();
    void escape();
    void addressList_data();
    void addressList();
    void commandState_data();
    void commandState();
    void workOfflineWritesTheCheckState();
    void popups_data();
    void popups();
    void pressOnTheAddressBar_data();
    void pressOnTheAddressBar();
    void pressOnGoSetsTheTitleThenNavigates();

private:
    // Runs one table script step, e.g. "type b.example", "key Shift+Return",
    // "focus FileNameEdit", "disable GoTBXItem", "float AddressToolbar".
    void step(const QString &line);

    std::unique_ptr<FormFixture> fixture;
    TMainForm *w = nullptr;
    FakeBrowser *browser = nullptr;
    QString designText;
};

void TestNavigation::init()
{
    fixture = std::make_unique<FormFixture>();
    w = fixture->form.get();
    browser = fixture->browser;
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    designText = w->AddressComboBoxItem->Text();
    browser->calls.clear(); // the start's GoHome
}

void TestNavigation::cleanup()
{
    QVERIFY(fixture->errors.messages.isEmpty());
    fixture.reset();
}

void TestNavigation::step(const QString &line)
{
    const QString verb = line.section(QLatin1Char(' '), 0, 0);
    const QString arg = line.section(QLatin1Char(' '), 1);
    if (verb == QLatin1String("type")) {
        TAddressComboBox *field = w->AddressComboBoxItem;
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        field->lineEdit()->selectAll();
        QTest::keyClicks(field, arg);
    } else if (verb == QLatin1String("key")) {
        stroke(QKeySequence(arg));
    } else if (verb == QLatin1String("click")) {
        // As the window system delivers it: the press gives the focus first.
        QWidget *target = w->findChild<QWidget *>(arg);
        QVERIFY2(target, qPrintable(arg));
        QWidget *face = target;
        if (auto *field = qobject_cast<TAddressComboBox *>(target))
            face = field->lineEdit();
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {},
                          face->mapTo(w, face->rect().center()));
        QTRY_VERIFY(target->hasFocus() || target->isAncestorOf(QApplication::focusWidget()));
    } else if (verb == QLatin1String("tab-to")) {
        QWidget *target = w->findChild<QWidget *>(arg);
        QVERIFY2(target, qPrintable(arg));
        w->TBXCheckBox2->setFocus();
        QTRY_VERIFY(!target->hasFocus());
        target->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(target->hasFocus());
    } else if (verb == QLatin1String("focus")) {
        QWidget *target = arg == QLatin1String("WebBrowser") ? w->WebBrowser->widget()
                                                             : w->findChild<QWidget *>(arg);
        QVERIFY2(target, qPrintable(arg));
        target->setFocus();
        QTRY_VERIFY(target->hasFocus() || target->isAncestorOf(QApplication::focusWidget()));
    } else if (verb == QLatin1String("disable") || verb == QLatin1String("enable")) {
        auto *item = w->findChild<QAction *>(arg);
        QVERIFY2(item, qPrintable(arg));
        item->setEnabled(verb == QLatin1String("enable"));
    } else if (verb == QLatin1String("set")) {
        w->AddressComboBoxItem->setText(arg);
    } else if (verb == QLatin1String("float")) {
        // As the user's drag leaves it: a tool window of the main window.
        QToolBar *bar = w->AddressToolbar;
        bar->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        bar->show();
        QVERIFY(bar->isFloating());
        QApplication::setActiveWindow(bar);
        QVERIFY(QTest::qWaitForWindowActive(bar));
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown step: ") + line));
    }
}

// --- Commands: every way to a browser operation

void TestNavigation::commands_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("target"); // item name, or the key sequence
    QTest::addColumn<QString>("call");
    const struct {
        const char *button, *menuItem, *shortcut, *call;
    } roles[] = {
        {"BackTBXItem", "ViewGoToBackTBXItem", "Alt+Left", "GoBack"},
        {"ForwardTBXItem", "ViewGoToForwardTBXItem", "Alt+Right", "GoForward"},
        {"StopTBXItem", "ViewStopTBXItem", "Esc", "Stop"},
        {"RefreshTBXItem", "ViewRefreshTBXItem", "F5", "Refresh"},
        {"HomeTBXItem", "ViewGoToHomeTBXItem", "Alt+Home", "GoHome"},
    };
    for (const auto &role : roles) {
        QTest::addRow("toolbar %s", role.button) << "button" << role.button << role.call;
        QTest::addRow("menu %s", role.menuItem) << "menu" << role.menuItem << role.call;
        QTest::addRow("shortcut %s, focus on the page", role.shortcut)
            << "page" << role.shortcut << role.call;
        QTest::addRow("shortcut %s, focus on the address field", role.shortcut)
            << "field" << role.shortcut << role.call;
    }
}

void TestNavigation::commands()
{
    QFETCH(QString, how);
    QFETCH(QString, target);
    QFETCH(QString, call);
    if (how == QLatin1String("button")) {
        auto *item = w->findChild<QAction *>(target);
        QVERIFY(item);
        QWidget *button = buttonOf(w->StandardToolbar, item);
        QVERIFY(button && button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
    } else if (how == QLatin1String("menu")) {
        auto *item = w->findChild<QAction *>(target);
        QVERIFY(item);
        item->trigger();
    } else {
        step(QStringLiteral("focus ") + (how == QLatin1String("page")
                                             ? QStringLiteral("WebBrowser")
                                             : QStringLiteral("AddressComboBoxItem")));
        stroke(QKeySequence(target));
    }
    QCOMPARE(browser->calls, QStringList{call});
}

// --- Go

void TestNavigation::go_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("empty: nothing") << "" << QStringList();
    QTest::newRow("three spaces, as they stand") << "   " << QStringList{"Navigate(   )"};
    QTest::newRow("an address, untouched")
        << " http://a.example/x " << QStringList{"Navigate( http://a.example/x )"};
}

void TestNavigation::go()
{
    QFETCH(QString, text);
    QFETCH(QStringList, calls);
    w->AddressComboBoxItem->setText(text);
    QTest::mouseClick(buttonOf(w->AddressToolbar, w->GoTBXItem), Qt::LeftButton);
    QCOMPARE(browser->calls, calls);
}

// --- Enter in the address field

void TestNavigation::enterPath_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("calls"); // "%design%" stands for the design text
    QTest::addColumn<bool>("editingAfter");
    const QStringList typed{"type b.example"};
    const QStringList once{"Navigate(b.example)"};
    const QStringList design{"Navigate(%design%)"};

    QTest::newRow("Enter after an edit") << typed + QStringList{"key Return"} << once << false;
    QTest::newRow("Shift+Enter") << typed + QStringList{"key Shift+Return"} << once << false;
    QTest::newRow("keypad Enter") << typed + QStringList{"key Num+Enter"} << once << false;
    QTest::newRow("a second Enter does nothing")
        << typed + QStringList{"key Return", "key Return"} << once << false;
    QTest::newRow("Enter without an edit")
        << QStringList{"focus AddressComboBoxItem", "key Return"} << QStringList() << false;
    QTest::newRow("a click into the field begins the edit")
        << QStringList{"click AddressComboBoxItem", "key Return"} << design << false;
    QTest::newRow("so does Tab") << QStringList{"tab-to AddressComboBoxItem", "key Return"}
                                 << design << false;
    QTest::newRow("Enter without an edit, elsewhere")
        << QStringList{"focus FileNameEdit", "key Return"} << QStringList() << false;
    QTest::newRow("Escape leaves the flag set")
        << typed + QStringList{"key Escape"} << QStringList() << true;
    QTest::newRow("Escape, then Enter in the file-name field")
        << typed + QStringList{"key Escape", "focus FileNameEdit", "key Return"} << design << false;
    QTest::newRow("Escape, then Enter on the page")
        << typed + QStringList{"key Escape", "focus WebBrowser", "key Return"} << design << false;
    QTest::newRow("Escape, then Enter on a check box")
        << typed + QStringList{"key Escape", "focus AllowPopupsTBXCheckBox", "key Return"} << design
        << false;
    QTest::newRow("Tab commits, Enter in the next control")
        << typed + QStringList{"key Tab", "key Return"} << once << false;
    QTest::newRow("edit left for another control, then Enter there")
        << typed + QStringList{"focus FileNameEdit", "key Return"} << design << false;
    QTest::newRow("Enter while Go is disabled clears the flag")
        << typed + QStringList{"disable GoTBXItem", "key Return", "enable GoTBXItem", "key Return"}
        << QStringList() << false;
    QTest::newRow("floating Address Bar")
        << QStringList{"float AddressToolbar"} + typed + QStringList{"key Return"} << once << false;
    QTest::newRow("other keys leave the flag alone")
        << typed + QStringList{"key Escape", "focus TBXCheckBox2", "key Space", "key F2", "key Tab"}
        << QStringList() << true;
}

void TestNavigation::enterPath()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, calls);
    QFETCH(bool, editingAfter);
    for (const QString &line : std::as_const(steps)) {
        step(line);
        if (QTest::currentTestFailed())
            return;
    }
    calls.replaceInStrings(QStringLiteral("%design%"), designText);
    QCOMPARE(browser->calls, calls);
    QCOMPARE(w->FEditingAddress, editingAfter);
}

// --- Esc: the field's while it edits, Stop's otherwise

void TestNavigation::escape_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("stops");
    QTest::newRow("editing the address: the edit is dropped") << QStringList{"type b.example"} << 0;
    QTest::newRow("address field, no edit") << QStringList{"focus AddressComboBoxItem"} << 1;
    QTest::newRow("after the edit was dropped") << QStringList{"type b.example", "key Escape"} << 1;
    QTest::newRow("file-name field") << QStringList{"focus FileNameEdit"} << 1;
    QTest::newRow("the page") << QStringList{"focus WebBrowser"} << 1;
}

void TestNavigation::escape()
{
    QFETCH(QStringList, steps);
    QFETCH(int, stops);
    for (const QString &line : std::as_const(steps))
        step(line);
    stroke(QKeySequence(Qt::Key_Escape));
    QCOMPARE(browser->count(QStringLiteral("Stop")), stops);
    TAddressComboBox *field = w->AddressComboBoxItem;
    QVERIFY(!field->isEditing());
    QCOMPARE(field->Text(), designText);
    QCOMPARE(field->shownText(), designText);
}

// --- The address list

void TestNavigation::addressList_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("added"); // after the design entries
    QTest::addColumn<QString>("text");
    QTest::newRow("the first keystroke adds the design text")
        << QStringList{"type b"} << QStringList{"%design%"} << "%design%";
    QTest::newRow("the rest of the edit adds nothing more")
        << QStringList{"type b.example", "key Backspace", "key Tab"} << QStringList{"%design%"}
        << "b.exampl";
    QTest::newRow("the next edit adds the committed text")
        << QStringList{"type b.example", "key Tab", "type c"}
        << QStringList{"%design%", "b.example"} << "b.example";
    QTest::newRow("a listed text in another case is not added again")
        << QStringList{"set THE LINE 2", "type b"} << QStringList() << "THE LINE 2";
    QTest::newRow("choosing an entry adds nothing")
        << QStringList{"focus AddressComboBoxItem", "key Down", "key Down"} << QStringList()
        << "the line 2";
}

void TestNavigation::addressList()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, added);
    QFETCH(QString, text);
    for (const QString &line : std::as_const(steps))
        step(line);
    added.replaceInStrings(QStringLiteral("%design%"), designText);
    text.replace(QStringLiteral("%design%"), designText);
    QCOMPARE(w->AddressComboBoxItem->items(), kDesignEntries + added);
    QCOMPARE(w->AddressComboBoxItem->Text(), text);
    QVERIFY(browser->calls.isEmpty());
}

// --- Back, Forward and Stop follow the browser's reports

void TestNavigation::commandState_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("enable");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("before"); // all six items start so
    QTest::addColumn<QStringList>("flipped");
    QTest::addColumn<int>("busyReads");
    const QStringList forward{"ForwardTBXItem", "ViewGoToForwardTBXItem"};
    const QStringList back{"BackTBXItem", "ViewGoToBackTBXItem"};
    const QStringList stop{"StopTBXItem", "ViewStopTBXItem"};
    QTest::newRow("1 on") << 1 << true << false << false << forward << 0;
    QTest::newRow("1 off") << 1 << false << true << true << forward << 0;
    QTest::newRow("2 on") << 2 << true << false << false << back << 0;
    QTest::newRow("2 off") << 2 << false << true << true << back << 0;
    QTest::newRow("-1 busy, Enable ignored") << -1 << false << true << false << stop << 2;
    QTest::newRow("-1 idle, Enable ignored") << -1 << true << false << true << stop << 2;
    QTest::newRow("-1 busy, already on") << -1 << true << true << true << QStringList() << 2;
    QTest::newRow("0 is another value") << 0 << false << true << false << stop << 2;
    QTest::newRow("3 is another value") << 3 << true << false << true << stop << 2;
}

void TestNavigation::commandState()
{
    QFETCH(int, command);
    QFETCH(bool, enable);
    QFETCH(bool, busy);
    QFETCH(bool, before);
    QFETCH(QStringList, flipped);
    QFETCH(int, busyReads);
    const QStringList six{"BackTBXItem",    "ViewGoToBackTBXItem",
                          "ForwardTBXItem", "ViewGoToForwardTBXItem",
                          "StopTBXItem",    "ViewStopTBXItem"};
    const QStringList others{"RefreshTBXItem", "ViewRefreshTBXItem", "HomeTBXItem",
                             "ViewGoToHomeTBXItem", "GoTBXItem"};
    for (const QString &name : six)
        w->findChild<QAction *>(name)->setEnabled(before);
    browser->busy = busy;
    browser->busyReads = 0;

    emit browser->CommandStateChange(command, enable);

    for (const QString &name : six) {
        const bool expected = flipped.contains(name) ? !before : before;
        QVERIFY2(w->findChild<QAction *>(name)->isEnabled() == expected, qPrintable(name));
    }
    for (const QString &name : others)
        QVERIFY2(w->findChild<QAction *>(name)->isEnabled(), qPrintable(name));
    QVERIFY(w->ViewGoToTBXSubmenuItem->isEnabled());
    QCOMPARE(browser->busyReads, busyReads);
    QVERIFY(browser->calls.isEmpty());
}

// --- Work Offline and popups

void TestNavigation::workOfflineWritesTheCheckState()
{
    QVERIFY(!w->FileWorkOfflineTBXItem->isChecked());
    w->FileWorkOfflineTBXItem->trigger();
    QVERIFY(w->FileWorkOfflineTBXItem->isChecked());
    QVERIFY(browser->Offline());
    w->FileWorkOfflineTBXItem->trigger();
    QCOMPARE(browser->calls, QStringList({"Offline(-1)", "Offline(0)"}));
    QVERIFY(!browser->Offline());
}

void TestNavigation::popups_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addColumn<bool>("cancelBefore");
    QTest::newRow("allowed") << true << true;
    QTest::newRow("refused") << false << false;
}

void TestNavigation::popups()
{
    QFETCH(bool, allow);
    QFETCH(bool, cancelBefore);
    w->AllowPopupsTBXCheckBox->setChecked(allow);
    bool cancel = cancelBefore;
    emit browser->NewWindow2(cancel);
    QCOMPARE(cancel, !allow);
    QVERIFY(browser->calls.isEmpty());
    QCOMPARE(w->windowTitle(), QStringLiteral("Framelog"));
}

// --- A press on the Address Bar sets the title

void TestNavigation::pressOnTheAddressBar_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("editing");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("setsTitle");
    QTest::newRow("label") << "label" << false << Qt::LeftButton << true;
    QTest::newRow("label, right button") << "label" << false << Qt::RightButton << true;
    QTest::newRow("handle") << "handle" << false << Qt::LeftButton << true;
    QTest::newRow("Go") << "go" << false << Qt::LeftButton << true;
    // The press reports first, then begins the edit.
    QTest::newRow("field text") << "text" << false << Qt::LeftButton << true;
    QTest::newRow("field arrow") << "arrow" << false << Qt::LeftButton << true;
    QTest::newRow("field text, editing") << "text" << true << Qt::LeftButton << false;
    QTest::newRow("field arrow, editing") << "arrow" << true << Qt::LeftButton << false;
    QTest::newRow("label, editing") << "label" << true << Qt::LeftButton << true;
    QTest::newRow("the page") << "page" << false << Qt::LeftButton << false;
}

void TestNavigation::pressOnTheAddressBar()
{
    QFETCH(QString, where);
    QFETCH(bool, editing);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, setsTitle);
    TAddressComboBox *field = w->AddressComboBoxItem;
    QToolBar *bar = w->AddressToolbar;
    const QString committed = QStringLiteral("http://press.example/");
    field->setText(committed);
    if (editing)
        step(QStringLiteral("type typed.example"));

    QWidget *target = nullptr;
    QPoint at;
    if (where == QLatin1String("label")) {
        target = w->TBXLabelItem1;
    } else if (where == QLatin1String("handle")) {
        target = bar;
        at = QPoint(bar->style()->pixelMetric(QStyle::PM_ToolBarHandleExtent) / 2 + 1,
                    bar->height() / 2);
        QVERIFY(!bar->childAt(at));
    } else if (where == QLatin1String("go")) {
        target = buttonOf(bar, w->GoTBXItem);
    } else if (where == QLatin1String("text")) {
        target = field->lineEdit();
    } else if (where == QLatin1String("arrow")) {
        target = field;
        at = QPoint(field->width() - 6, field->height() / 2);
        QCOMPARE(field->childAt(at), nullptr);
    } else {
        target = w->WebBrowser->widget();
    }
    if (at.isNull())
        at = target->rect().center();

    // The title changes before the press acts: Go is not down yet, the list
    // not open yet.
    QWidget *go = buttonOf(bar, w->GoTBXItem);
    int titleChanges = 0;
    bool actedFirst = false;
    connect(w, &QWidget::windowTitleChanged, this, [&] {
        ++titleChanges;
        actedFirst = static_cast<QToolButton *>(go)->isDown() || field->view()->isVisible();
    });
    QTest::mousePress(target, button, {}, at);
    QCOMPARE(w->windowTitle(), setsTitle ? committed : QStringLiteral("Framelog"));
    QCOMPARE(titleChanges, setsTitle ? 1 : 0);
    QVERIFY(!actedFirst);
    QCOMPARE(field->isEditing(), editing || where == QLatin1String("text"));
    QTest::mouseRelease(target, button, {}, at);
    field->hidePopup();
}

void TestNavigation::pressOnGoSetsTheTitleThenNavigates()
{
    TAddressComboBox *field = w->AddressComboBoxItem;
    field->setText(QStringLiteral("http://go.example/"));
    QWidget *go = buttonOf(w->AddressToolbar, w->GoTBXItem);
    QTest::mousePress(go, Qt::LeftButton);
    QCOMPARE(w->windowTitle(), QStringLiteral("http://go.example/"));
    QVERIFY(browser->calls.isEmpty());
    QTest::mouseRelease(go, Qt::LeftButton);
    QCOMPARE(browser->calls, QStringList{"Navigate(http://go.example/)"});
    // The completed page's title replaces the bar's.
    browser->locationName = QStringLiteral("Go page");
    emit browser->NavigateComplete2(QStringLiteral("http://go.example/"));
    QCOMPARE(w->windowTitle(), QStringLiteral("[Go page] - Framelog"));
}

QTEST_MAIN(TestNavigation)
#include "test_navigation.moc"

// The main window on the real browser control and local pages: typing an
// address, Enter and Go, the title and the address field following the page,
// and Back/Forward as the history changes. Keys go to the window as the window
// system sends them.
#include "browser_test.h"
#include "form_fixture.h"

#include "browse/address_combo_box.h"
#include "ui/progress_bar.h"

#include <QAction>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolBar>

using namespace framelog;
using namespace framelog::test;

namespace {

constexpr int kLoadTimeout = 20000;

} // namespace

class TestNavigationRealPage : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void enterLoadsATypedFileAddress();
    void backAndForwardFollowTheHistory();
    void enterOnThePageAfterAnEscapedEdit();

private:
    // Types into the address field, as a user selecting all first.
    void type(const QString &text);
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {});
    // Runs `action` and waits for the navigation it starts to complete.
    void completes(const std::function<void()> &action);
    bool backAndForward(bool back, bool forward) const;

    LocalPages pages;
    std::unique_ptr<ErrorRecorder> errors;
    WebEngineBrowser *browser = nullptr;
    std::unique_ptr<TMainForm> form;
};

void TestNavigationRealPage::init()
{
    errors = std::make_unique<ErrorRecorder>();
    browser = new WebEngineBrowser;
    QSignalSpy home(browser, &TBrowserControl::NavigateComplete2);
    form = std::make_unique<TMainForm>(browser);
    form->show();
    QApplication::setActiveWindow(form.get());
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QTRY_VERIFY_WITH_TIMEOUT(!home.isEmpty(), kLoadTimeout);
    QTRY_COMPARE(form->windowTitle(), QStringLiteral("[Framelog] - Framelog"));
}

void TestNavigationRealPage::cleanup()
{
    QCOMPARE(errors->messages, QStringList());
    form.reset();
    errors.reset();
}

void TestNavigationRealPage::type(const QString &text)
{
    TAddressComboBox *field = form->AddressComboBoxItem;
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    field->lineEdit()->selectAll();
    QTest::keyClicks(field, text);
    QCOMPARE(field->shownText(), text);
}

void TestNavigationRealPage::key(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(form->windowHandle(), key, modifiers);
}

void TestNavigationRealPage::completes(const std::function<void()> &action)
{
    QSignalSpy done(browser, &TBrowserControl::NavigateComplete2);
    action();
    QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), kLoadTimeout);
    // The load's last reports follow the completion.
    QTRY_COMPARE(form->statusText(), QStringLiteral("Done"));
}

bool TestNavigationRealPage::backAndForward(bool back, bool forward) const
{
    return form->BackTBXItem->isEnabled() == back &&
           form->ViewGoToBackTBXItem->isEnabled() == back &&
           form->ForwardTBXItem->isEnabled() == forward &&
           form->ViewGoToForwardTBXItem->isEnabled() == forward;
}

void TestNavigationRealPage::enterLoadsATypedFileAddress()
{
    const QString alpha =
        pages.titled(QStringLiteral("alpha.html"), QStringLiteral("Alpha")).toString();
    QSignalSpy opening(browser, &TBrowserControl::StatusTextChange);
    type(alpha);
    completes([&] { key(Qt::Key_Return); });
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(form->windowTitle(), QStringLiteral("[Alpha] - Framelog"));
    QCOMPARE(form->AddressComboBoxItem->Text(), alpha);
    QCOMPARE(form->AddressComboBoxItem->shownText(), alpha);
    QCOMPARE(form->AddressComboBoxItem->items().count(alpha), 1);
    QVERIFY(!form->FEditingAddress);
    // One navigation, and the bar empty at its end.
    int loads = 0;
    for (const auto &report : std::as_const(opening))
        loads += report[0].toString().startsWith(QStringLiteral("Opening page"));
    QCOMPARE(loads, 1);
    QCOMPARE(form->ProgressBar->value(), 0);
    QCOMPARE(form->ProgressBar->maximum(), 10000);
}

void TestNavigationRealPage::backAndForwardFollowTheHistory()
{
    const QString alpha =
        pages.titled(QStringLiteral("alpha.html"), QStringLiteral("Alpha")).toString();
    const QString beta =
        pages.titled(QStringLiteral("beta.html"), QStringLiteral("Beta")).toString();
    QTRY_VERIFY(backAndForward(false, false)); // only the home page so far

    type(alpha);
    completes([&] { key(Qt::Key_Return); });
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY(backAndForward(true, false));

    // Go takes the committed text: Tab commits.
    type(beta);
    key(Qt::Key_Tab);
    completes([&] {
        QTest::mouseClick(form->AddressToolbar->widgetForAction(form->GoTBXItem), Qt::LeftButton);
    });
    if (QTest::currentTestFailed())
        return;
    browser->widget()->setFocus(); // the shortcuts below go to the page
    QCOMPARE(form->windowTitle(), QStringLiteral("[Beta] - Framelog"));
    QTRY_VERIFY(backAndForward(true, false));

    const struct {
        const char *how;
        std::function<void()> action;
        QString title, address;
        bool back, forward;
    } moves[] = {
        {"Back button",
         [&] {
             QTest::mouseClick(form->StandardToolbar->widgetForAction(form->BackTBXItem),
                               Qt::LeftButton);
         },
         "[Alpha] - Framelog", alpha, true, true},
        {"Alt+Left", [&] { key(Qt::Key_Left, Qt::AltModifier); }, "[Framelog] - Framelog",
         WebEngineBrowser::homeUrl().toString(), false, true},
        {"View > Go To > Forward", [&] { form->ViewGoToForwardTBXItem->trigger(); },
         "[Alpha] - Framelog", alpha, true, true},
        {"Alt+Right", [&] { key(Qt::Key_Right, Qt::AltModifier); }, "[Beta] - Framelog", beta, true,
         false},
    };
    for (const auto &move : moves) {
        completes(move.action);
        QVERIFY2(!QTest::currentTestFailed(), move.how);
        QCOMPARE(form->windowTitle(), move.title);
        QCOMPARE(form->AddressComboBoxItem->Text(), move.address);
        QTRY_VERIFY2(backAndForward(move.back, move.forward), move.how);
    }
    // Every address is listed once, after the design entries.
    const QStringList items = form->AddressComboBoxItem->items();
    for (const QString &address : {alpha, beta, WebEngineBrowser::homeUrl().toString()})
        QCOMPARE(items.count(address), 1);
}

void TestNavigationRealPage::enterOnThePageAfterAnEscapedEdit()
{
    const QString alpha =
        pages.titled(QStringLiteral("alpha.html"), QStringLiteral("Alpha")).toString();
    type(alpha);
    completes([&] { key(Qt::Key_Return); });
    if (QTest::currentTestFailed())
        return;

    // Escape drops the typing but leaves the edit flag; Enter on the page then
    // goes to the committed address again.
    type(QStringLiteral("file:///nowhere/typed.html"));
    key(Qt::Key_Escape);
    QCOMPARE(form->AddressComboBoxItem->shownText(), alpha);
    QVERIFY(form->FEditingAddress);
    browser->widget()->setFocus();
    QTRY_VERIFY(browser->widget()->isAncestorOf(QApplication::focusWidget()));
    completes([&] { key(Qt::Key_Return); });
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(form->AddressComboBoxItem->Text(), alpha);
    QCOMPARE(form->windowTitle(), QStringLiteral("[Alpha] - Framelog"));
    QVERIFY(!form->FEditingAddress);
}

FRAMELOG_BROWSER_TEST_MAIN(TestNavigationRealPage)
#include "test_navigation_real_page.moc"

// The real browser control on local pages: the events the window relies on.
#include "browser_test.h"
#include "local_http_server.h"

#include <QSignalSpy>
#include <QWebEngineView>

using namespace framelog;
using namespace framelog::test;

class TestWebEngineBrowser : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void completesWithTitleAndAddress();
    void progressEndsAtMinusOneAndBusyFollows();
    void backAndForwardFollowTheHistory();
    void offlineBlocksTheNetworkOnly();
    void popups_data();
    void popups();
    void startsAtTheBuiltInHomePage();

private:
    bool load(const QUrl &url);

    LocalPages pages;
    std::unique_ptr<WebEngineBrowser> browser;
};

void TestWebEngineBrowser::init()
{
    browser = std::make_unique<WebEngineBrowser>();
    browser->widget()->resize(400, 300);
    browser->widget()->show();
}

void TestWebEngineBrowser::cleanup()
{
    browser.reset();
}

bool TestWebEngineBrowser::load(const QUrl &url)
{
    QSignalSpy complete(browser.get(), &TBrowserControl::NavigateComplete2);
    browser->Navigate(url.toString());
    return complete.wait(20000);
}

void TestWebEngineBrowser::completesWithTitleAndAddress()
{
    const QUrl url = pages.titled(QStringLiteral("example.html"), QStringLiteral("Example"));
    QSignalSpy complete(browser.get(), &TBrowserControl::NavigateComplete2);
    QSignalSpy status(browser.get(), &TBrowserControl::StatusTextChange);
    browser->Navigate(url.toString());
    QVERIFY(complete.wait(20000));
    QCOMPARE(complete.size(), 1);
    QCOMPARE(complete[0][0].toString(), url.toString());
    QCOMPARE(browser->LocationName(), QStringLiteral("Example"));
    QVERIFY(status.size() >= 2);
    QVERIFY(status.first()[0].toString().startsWith(QStringLiteral("Opening page")));
    QTRY_COMPARE(status.last()[0].toString(), QStringLiteral("Done"));
}

void TestWebEngineBrowser::progressEndsAtMinusOneAndBusyFollows()
{
    const QUrl url = pages.titled(QStringLiteral("p.html"), QStringLiteral("P"));
    QList<bool> busyAtProgress;
    QList<int> progress;
    connect(browser.get(), &TBrowserControl::ProgressChange, this, [&](int p, int) {
        progress << p;
        busyAtProgress << browser->Busy();
    });
    QVERIFY(load(url));
    QTRY_VERIFY(!progress.isEmpty() && progress.last() == -1);
    QVERIFY(busyAtProgress.first()); // loading
    QVERIFY(!busyAtProgress.last()); // finished
    QVERIFY(!browser->Busy());
}

void TestWebEngineBrowser::backAndForwardFollowTheHistory()
{
    QMap<int, bool> state;
    connect(browser.get(), &TBrowserControl::CommandStateChange, this,
            [&](int command, bool enable) { state[command] = enable; });
    QVERIFY(load(pages.titled(QStringLiteral("a.html"), QStringLiteral("A"))));
    QVERIFY(!state.value(2, true));
    QVERIFY(load(pages.titled(QStringLiteral("b.html"), QStringLiteral("B"))));
    QVERIFY(state.value(2));  // back
    QVERIFY(!state.value(1)); // no forward yet
    QVERIFY(state.contains(-1));

    QSignalSpy complete(browser.get(), &TBrowserControl::NavigateComplete2);
    browser->GoBack();
    QVERIFY(complete.wait(20000));
    QCOMPARE(browser->LocationName(), QStringLiteral("A"));
    QVERIFY(state.value(1));
    QVERIFY(!state.value(2));
    browser->GoForward();
    QVERIFY(complete.wait(20000));
    QCOMPARE(browser->LocationName(), QStringLiteral("B"));
}

void TestWebEngineBrowser::offlineBlocksTheNetworkOnly()
{
    LocalHttpServer server("<html><head><title>Served</title></head><body>x</body></html>");
    QVERIFY(load(QUrl(server.url(QStringLiteral("/online")))));
    QCOMPARE(browser->LocationName(), QStringLiteral("Served"));
    QCOMPARE(server.requests, 1);

    browser->setOffline(true);
    QVERIFY(browser->Offline());
    load(QUrl(server.url(QStringLiteral("/offline"))));
    QCOMPARE(server.requests, 1);
    QVERIFY(browser->LocationName() != QStringLiteral("Served"));

    QVERIFY(load(pages.titled(QStringLiteral("local.html"), QStringLiteral("Local"))));
    QCOMPARE(browser->LocationName(), QStringLiteral("Local"));

    browser->setOffline(false);
    QVERIFY(load(QUrl(server.url(QStringLiteral("/again")))));
    QCOMPARE(server.requests, 2);
}

void TestWebEngineBrowser::popups_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("allowed") << false;
    QTest::newRow("refused") << true;
}

void TestWebEngineBrowser::popups()
{
    QFETCH(bool, cancel);
    int asked = 0;
    connect(browser.get(), &TBrowserControl::NewWindow2, this, [&](bool &c) {
        ++asked;
        c = cancel;
    });
    const QUrl popup = pages.titled(QStringLiteral("popup.html"), QStringLiteral("Popup"));
    QVERIFY(load(pages.write(QStringLiteral("opener.html"),
                             QStringLiteral("<html><head><title>Opener</title></head><body>"
                                            "<script>window.open('%1', '_blank',"
                                            " 'width=200,height=100')</script></body></html>")
                                 .arg(popup.toString()))));
    QTRY_COMPARE(asked, 1);
    if (cancel) {
        // The window is made (or not) while the page is asked, so no wait.
        QCOMPARE(browser->popupWindows().size(), 0);
    } else {
        QTRY_COMPARE(browser->popupWindows().size(), 1);
        QTRY_COMPARE(browser->popupWindows().first()->windowTitle(), QStringLiteral("Popup"));
    }
}

void TestWebEngineBrowser::startsAtTheBuiltInHomePage()
{
    QSignalSpy complete(browser.get(), &TBrowserControl::NavigateComplete2);
    browser->GoHome();
    QVERIFY(complete.wait(20000));
    QCOMPARE(complete[0][0].toString(), WebEngineBrowser::homeUrl().toString());
    QCOMPARE(browser->LocationName(), QStringLiteral("Framelog"));
}

FRAMELOG_BROWSER_TEST_MAIN(TestWebEngineBrowser)
#include "test_web_engine_browser.moc"

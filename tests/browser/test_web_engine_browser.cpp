// The real browser control on local pages: the events the window relies on.
#include "browser_test.h"
#include "local_http_server.h"

#include "browse/offline_gate.h"

#include <QLineEdit>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
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
    void offlineAnswersFromTheCache();
    void offlineReloadsLeaveThePage();
    void webRtcSendsNothingOffline();
    void localPagesAsInChromium();
    void popups_data();
    void popups();
    void popupsOfPopupsAndTheirLife();
    void startsAtTheBuiltInHomePage();

private:
    bool load(const QUrl &url);
    // Runs a script in the page and returns its result.
    QVariant run(const QString &script);
    // A left click in the middle of `view`'s page.
    static void click(QWebEngineView *view);

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
    return loadIn(*browser, url);
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

QVariant TestWebEngineBrowser::run(const QString &script)
{
    return runIn(*browser, script);
}

void TestWebEngineBrowser::click(QWebEngineView *view)
{
    QWidget *surface = view->focusProxy() ? view->focusProxy() : view;
    QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
}

void TestWebEngineBrowser::offlineAnswersFromTheCache()
{
    const QHostAddress own = LocalHttpServer::ownAddress();
    if (own.isNull())
        QSKIP("this machine has no address besides loopback, which the gate never sees");
    LocalHttpServer server("<html><head><title>{path}</title></head><body>served</body></html>",
                           nullptr, own, "Cache-Control: max-age=3600\r\n");
    const auto pages = [&] { return server.paths.filter(QRegularExpression(u"^/[abc]$"_qs)); };
    QVERIFY(load(QUrl(server.url(QStringLiteral("/a")))));
    QVERIFY(load(QUrl(server.url(QStringLiteral("/b")))));
    QCOMPARE(browser->LocationName(), QStringLiteral("/b"));
    const QStringList online = pages();
    QCOMPARE(online, (QStringList{"/a", "/b"}));
    browser->setOffline(true);
    // Once the engine sends its requests to the closed gate, its cache answers.
    QTRY_COMPARE_WITH_TIMEOUT(browser->offlineState(), OfflineState::OfflineBehindGate, 20000);
    const int refusedBefore = OfflineGate::instance().refusedCount();
    QSignalSpy complete(browser.get(), &TBrowserControl::NavigateComplete2);
    // History and a typed address the cache can answer.
    browser->GoBack();
    QVERIFY(complete.wait(20000));
    QCOMPARE(browser->LocationName(), QStringLiteral("/a"));
    QVERIFY(load(QUrl(server.url(QStringLiteral("/b")))));
    QCOMPARE(browser->LocationName(), QStringLiteral("/b"));
    // One it cannot: our page, at the address asked for.
    QVERIFY(load(QUrl(server.url(QStringLiteral("/c")))));
    QCOMPARE(complete.last()[0].toString(), server.url(QStringLiteral("/c")));
    QCOMPARE(browser->LocationName(), QStringLiteral("Not available offline"));
    QVERIFY(run(QStringLiteral("document.body.innerText"))
                .toString()
                .contains(QStringLiteral("is not available offline")));
    QVERIFY(browser->view()->history()->canGoBack());
    QCOMPARE(pages(), online); // nothing reached the server
    QVERIFY(OfflineGate::instance().refusedCount() > refusedBefore);

    browser->setOffline(false);
    QVERIFY(load(QUrl(server.url(QStringLiteral("/c")))));
    QCOMPARE(browser->LocationName(), QStringLiteral("/c"));
}

void TestWebEngineBrowser::offlineReloadsLeaveThePage()
{
    LocalHttpServer server("<html><head><title>Stays</title></head><body>"
                           "<script>window.mark = Math.random()</script></body></html>");
    QVERIFY(load(QUrl(server.url(QStringLiteral("/stays")))));
    const double mark = run(QStringLiteral("window.mark")).toDouble();
    QList<QWebEngineLoadingInfo::LoadStatus> ended;
    connect(browser->view()->page(), &QWebEnginePage::loadingChanged, this,
            [&](const QWebEngineLoadingInfo &info) {
                if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus)
                    ended << info.status();
            });
    browser->setOffline(true);
    browser->Refresh(); // the button, F5, the page timer: nothing starts
    // The page's own: each starts and is stopped before it goes anywhere.
    run(QStringLiteral("location.reload()"));
    run(QStringLiteral(
        "document.head.insertAdjacentHTML('beforeend', '<meta http-equiv=refresh content=0>')"));
    QTRY_COMPARE(ended.size(), 2);
    QCOMPARE(ended, (QList{QWebEngineLoadingInfo::LoadStoppedStatus,
                           QWebEngineLoadingInfo::LoadStoppedStatus}));
    QCOMPARE(browser->LocationName(), QStringLiteral("Stays"));
    QCOMPARE(run(QStringLiteral("window.mark")).toDouble(), mark);
    QCOMPARE(server.paths.filter(QStringLiteral("/stays")).size(), 1);
}

// Offline from the start (a recorder's offline recipe): a page's peer
// connection is refused, and nothing reaches the STUN server it names.
void TestWebEngineBrowser::webRtcSendsNothingOffline()
{
    QUdpSocket stun;
    stun.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(stun.bind(QHostAddress::LocalHost));
    int datagrams = 0;
    connect(&stun, &QUdpSocket::readyRead, this, [&] {
        while (stun.hasPendingDatagrams()) {
            stun.receiveDatagram();
            ++datagrams;
        }
    });
    browser->setOffline(true);
    QVERIFY(load(pages.write(
        QStringLiteral("rtc.html"),
        QStringLiteral(
            "<html><head><title>RTC</title></head><body><script>"
            "try {"
            "  const pc = new RTCPeerConnection({iceServers:[{urls:'stun:127.0.0.1:%1'}]});"
            "  pc.createDataChannel('d');"
            "  pc.createOffer().then(o => pc.setLocalDescription(o));"
            "  document.title = 'made';"
            "} catch (e) { document.title = e.name; }"
            "</script></body></html>")
            .arg(stun.localPort()))));
    QTRY_COMPARE_WITH_TIMEOUT(browser->LocationName(), QStringLiteral("NotAllowedError"), 20000);
    QTest::qWait(500);
    QCOMPARE(datagrams, 0);
}

// A file page's pictures, styles, scripts and frames load from other
// folders (../img, ../css), as in Chromium; its scripts read no file.
void TestWebEngineBrowser::localPagesAsInChromium()
{
    QDir root(pages.path());
    for (const char *folder : {"page", "img", "css", "js", "frames", "data"})
        QVERIFY(root.mkpath(QLatin1String(folder)));
    QImage picture(4, 3, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QVERIFY(picture.save(root.filePath(QStringLiteral("img/pic.png"))));
    const auto write = [&](const char *name, const char *text) {
        QFile file(root.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write("css/style.css", "body { background: rgb(0, 0, 255); }");
    write("js/script.js", "window.fromParent = 1;");
    write("frames/frame.html", "<script>parent.postMessage('frame loaded', '*')</script>");
    write("data/secret.txt", "secret");
    write("page/index.html",
          "<html><head><title>Files</title><link rel=stylesheet href='../css/style.css'>"
          "<script src='../js/script.js'></script></head><body>"
          "<img id=pic src='../img/pic.png'><iframe src='../frames/frame.html'></iframe><script>"
          "window.got = {};"
          "addEventListener('message', e => got.frame = e.data);"
          "fetch('../data/secret.txt').then(r => r.text()).then(t => got.fetch = t,"
          "                                                     () => got.fetch = 'refused');"
          "const x = new XMLHttpRequest(); x.open('GET', '../data/secret.txt');"
          "x.onload = () => got.xhr = x.responseText; x.onerror = () => got.xhr = 'refused';"
          "x.send();"
          "</script></body></html>");
    QVERIFY(load(QUrl::fromLocalFile(root.filePath(QStringLiteral("page/index.html")))));
    QTRY_COMPARE(run(QStringLiteral("Object.keys(got).length")).toInt(), 3);
    QCOMPARE(run(QStringLiteral("got.frame")).toString(), QStringLiteral("frame loaded"));
    QCOMPARE(run(QStringLiteral("got.fetch")).toString(), QStringLiteral("refused"));
    QCOMPARE(run(QStringLiteral("got.xhr")).toString(), QStringLiteral("refused"));
    QCOMPARE(run(QStringLiteral("window.fromParent")).toInt(), 1);
    QCOMPARE(run(QStringLiteral("getComputedStyle(document.body).backgroundColor")).toString(),
             QStringLiteral("rgb(0, 0, 255)"));
    QTRY_COMPARE(run(QStringLiteral("document.getElementById('pic').naturalWidth")).toInt(), 4);
}

void TestWebEngineBrowser::popups_data()
{
    QTest::addColumn<bool>("gesture");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("features");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("opens");
    QTest::newRow("a click, allowed")
        << true << false << "left=40,top=60,width=300,height=200" << 1 << true;
    QTest::newRow("a click, refused") << true << true << "width=300,height=200" << 1 << false;
    QTest::newRow("far off the screen")
        << true << false << "left=9000,top=9000,width=300,height=200" << 1 << true;
    QTest::newRow("no gesture, never asked")
        << false << false << "width=300,height=200" << 0 << false;
}

void TestWebEngineBrowser::popups()
{
    QFETCH(bool, gesture);
    QFETCH(bool, cancel);
    QFETCH(QString, features);
    QFETCH(int, asked);
    QFETCH(bool, opens);
    int askedNow = 0;
    connect(browser.get(), &TBrowserControl::NewWindow2, this, [&](bool &c) {
        ++askedNow;
        c = cancel;
    });
    const QUrl popup = pages.titled(QStringLiteral("popup.html"), QStringLiteral("Popup"));
    const QString open =
        QStringLiteral("window.open('%1', '_blank', '%2')").arg(popup.toString(), features);
    QVERIFY(load(pages.write(
        QStringLiteral("opener.html"),
        QStringLiteral("<html><head><title>Opener</title></head><body style='margin:0'>"
                       "<button style='position:fixed;inset:0;width:100%;height:100%'"
                       " onclick=\"%1\">open</button>%2</body></html>")
            .arg(open, gesture ? QString() : QStringLiteral("<script>%1</script>").arg(open)))));
    if (gesture)
        click(browser->view());
    else
        run(QStringLiteral("0")); // the page's script has run
    QTRY_COMPARE(askedNow, asked);
    if (!opens) {
        // The window is made (or not) while the page is asked, so no wait.
        QCOMPARE(browser->popupWindows().size(), 0);
        return;
    }
    QTRY_COMPARE(browser->popupWindows().size(), 1);
    QWidget *window = browser->popupWindows().first();
    QTRY_COMPARE(window->windowTitle(), QStringLiteral("Popup"));
    auto *address = window->findChild<QLineEdit *>();
    QVERIFY(address);
    QTRY_COMPARE(address->text(), popup.toDisplayString());
    auto *page = window->findChild<QWebEngineView *>();
    QCOMPARE(page->size(), QSize(300, 200));
    const QRect screen = window->screen()->availableGeometry();
    QVERIFY2(screen.contains(window->geometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                 .arg(window->x())
                                                                 .arg(window->y())
                                                                 .arg(window->width())
                                                                 .arg(window->height())));
    if (features.startsWith(QLatin1String("left=40")))
        QCOMPARE(window->pos(), QPoint(40, 60));
}

void TestWebEngineBrowser::popupsOfPopupsAndTheirLife()
{
    int asked = 0;
    bool allow = true;
    connect(browser.get(), &TBrowserControl::NewWindow2, this, [&](bool &c) {
        ++asked;
        c = !allow;
    });
    const QString button = QStringLiteral(
        "<button style='position:fixed;inset:0;width:100%;height:100%'"
        " onclick=\"window.open('%1', '_blank', 'width=300,height=200')\">open</button>");
    const QUrl last = pages.titled(QStringLiteral("last.html"), QStringLiteral("Last"));
    const QUrl middle = pages.titled(QStringLiteral("middle.html"), QStringLiteral("Middle"),
                                     button.arg(last.toString()));
    QVERIFY(load(pages.titled(QStringLiteral("first.html"), QStringLiteral("First"),
                              button.arg(middle.toString()))));
    click(browser->view());
    QTRY_COMPARE(browser->popupWindows().size(), 1);
    QWidget *first = browser->popupWindows().first();
    QTRY_COMPARE(first->windowTitle(), QStringLiteral("Middle"));
    // The popup's own popup asks the same question.
    allow = false;
    auto *view = first->findChild<QWebEngineView *>();
    QTRY_VERIFY(view->focusProxy());
    click(view);
    QTRY_COMPARE(asked, 2);
    QCOMPARE(browser->popupWindows().size(), 1);
    allow = true;
    click(view);
    QTRY_COMPARE(asked, 3);
    QTRY_COMPARE(browser->popupWindows().size(), 2);

    // They stay when the main page changes, and go with the control.
    QVERIFY(load(pages.titled(QStringLiteral("elsewhere.html"), QStringLiteral("Elsewhere"))));
    QCOMPARE(browser->popupWindows().size(), 2);
    const QList<QPointer<QWidget>> windows{browser->popupWindows()[0], browser->popupWindows()[1]};
    browser.reset();
    QVERIFY(!windows[0] && !windows[1]);
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

// The real browser control with pages that hold the network: WebRTC as in
// Chromium online and nothing of it offline, open streams cut at Work
// Offline, no proxy's connection cap online.
#include "browser_test.h"
#include "local_http_server.h"
#include "python_server.h"

#include "browse/offline_gate.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

using namespace framelog;
using namespace framelog::test;

namespace {

constexpr int kPlayMs = 60000;

// The frame of another origin: makes a connection when asked.
const char kFramePage[] = R"(<!doctype html><html><body><script>
addEventListener('message', () => {
  let answer;
  try { new RTCPeerConnection(); answer = 'made'; } catch (e) { answer = e.name; }
  parent.postMessage({answer}, '*');
});
</script></body></html>)";

} // namespace

class TestOfflineRealPage : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void webRtcPlaysOnlineAndStopsOffline();
    void openStreamsAreCut();
    void manyStreamsOnline_data();
    void manyStreamsOnline();
    void webRtcWithAnAnswererOnTheLan();

private:
    bool load(const QUrl &url);
    QVariant run(const QString &script);
    bool titleBecomes(const QString &title, int timeoutMs);

    LocalPages pages;
    std::unique_ptr<WebEngineBrowser> browser;
};

void TestOfflineRealPage::init()
{
    browser = std::make_unique<WebEngineBrowser>();
    browser->widget()->resize(400, 300);
    browser->widget()->show();
}

void TestOfflineRealPage::cleanup()
{
    browser.reset();
}

bool TestOfflineRealPage::load(const QUrl &url)
{
    return loadIn(*browser, url);
}

QVariant TestOfflineRealPage::run(const QString &script)
{
    return runIn(*browser, script);
}

// In an event loop of its own, as the program runs: QTest's polling runs
// the engine's work on this thread once per 10 ms, which a page with 40
// busy streams outruns.
bool TestOfflineRealPage::titleBecomes(const QString &title, int timeoutMs)
{
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    connect(browser->view(), &QWebEngineView::titleChanged, &loop, [&] {
        if (browser->LocationName() == title)
            loop.quit();
    });
    if (browser->LocationName() != title)
        loop.exec();
    return browser->LocationName() == title;
}

void TestOfflineRealPage::webRtcPlaysOnlineAndStopsOffline()
{
    // The page (tests/pages) and its frame from two origins.
    QFile html(QStringLiteral(FRAMELOG_TEST_PAGES "/webrtc-loopback.html"));
    QVERIFY(html.open(QIODevice::ReadOnly));
    LocalHttpServer frame(kFramePage);
    LocalHttpServer page(html.readAll());
    const QUrl url(page.url(QStringLiteral("/rtc.html?frame=")) + frame.url());
    QVERIFY(load(url));
    QVERIFY2(titleBecomes(QStringLiteral("playing"), kPlayMs), qPrintable(browser->LocationName()));
    const auto tryFrame = [this] {
        run(QStringLiteral("tryFrame()"));
        QString answer;
        const bool came = QTest::qWaitFor(
            [&] {
                answer = run(QStringLiteral("fromFrame")).toString();
                return !answer.isEmpty();
            },
            10000);
        return came ? answer : QStringLiteral("<no answer>");
    };
    QCOMPARE(tryFrame(), QStringLiteral("made"));

    browser->setOffline(true);
    // Open connections close, new ones are refused, in the frames too.
    QTRY_COMPARE_WITH_TIMEOUT(
        run(QStringLiteral("pcs.filter(p => p.signalingState !== 'closed').length")).toInt(), 0,
        10000);
    QCOMPARE(run(QStringLiteral("tryHere()")).toString(), QStringLiteral("NotAllowedError"));
    QCOMPARE(tryFrame(), QStringLiteral("NotAllowedError"));
    // Nor does the constructor the prototype names make one.
    QCOMPARE(run(QStringLiteral("(() => { try { new (RTCPeerConnection.prototype.constructor)();"
                                " return 'made'; } catch (e) { return e.name; } })()"))
                 .toString(),
             QStringLiteral("NotAllowedError"));

    // Online again, WebRTC works as before, in a page already there and in
    // a new one (the engine's own sockets were not harmed).
    browser->setOffline(false);
    QTRY_COMPARE_WITH_TIMEOUT(run(QStringLiteral("tryHere()")).toString(), QStringLiteral("made"),
                              10000);
    QCOMPARE(tryFrame(), QStringLiteral("made"));
    QVERIFY(load(QUrl(page.url(QStringLiteral("/again.html")))));
    QVERIFY2(titleBecomes(QStringLiteral("playing"), kPlayMs), qPrintable(browser->LocationName()));
}

// Streams to a loopback camera (which Chromium never sends through a proxy)
// end at Work Offline, and nothing of them goes on.
void TestOfflineRealPage::openStreamsAreCut()
{
    PythonServer camera(QStringLiteral("stream_server.py"), {QStringLiteral("127.0.0.1")});
    QVERIFY(camera.isRunning());
    QVERIFY(load(QUrl(QStringLiteral("http://127.0.0.1:%1/streams.html").arg(camera.port()))));
    QTRY_VERIFY_WITH_TIMEOUT(run(QStringLiteral("seen.sse > 3 && seen.ws > 3")).toBool(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(camera.ask("report")[u"open"].toInt(), 3, 20000);

    browser->setOffline(true);
    QTest::qWait(200); // what was on its way when the switch came
    camera.tell("mark");
    QTRY_COMPARE_WITH_TIMEOUT(camera.ask("report")[u"open"].toInt(), 0, 10000);
    const int seen = run(QStringLiteral("seen.sse + seen.ws")).toInt();
    QTest::qWait(2000); // ten times the event stream's retry
    const QJsonObject after = camera.ask("report");
    QCOMPARE(after[u"connections"].toInt(), 0);
    QCOMPARE(after[u"bytes_in"].toInt(), 0);
    QCOMPARE(run(QStringLiteral("seen.sse + seen.ws")).toInt(), seen);

    browser->setOffline(false);
    QTRY_VERIFY_WITH_TIMEOUT(camera.ask("report")[u"connections"].toInt() > 0, 20000);
}

void TestOfflineRealPage::manyStreamsOnline_data()
{
    QTest::addColumn<bool>("afterOffline");
    QTest::newRow("from the start") << false;
    QTest::newRow("after working offline") << true;
}

// A page with 40 long-lived streams (more than Chromium lets through one
// proxy) gets all of them, and a request after them, as in Chromium itself.
void TestOfflineRealPage::manyStreamsOnline()
{
    QFETCH(bool, afterOffline);
    const QHostAddress own = LocalHttpServer::ownAddress();
    if (own.isNull())
        QSKIP("this machine has no address besides loopback, which no proxy sees");
    PythonServer camera(QStringLiteral("stream_server.py"), {own.toString(), QStringLiteral("40")});
    QVERIFY(camera.isRunning());
    if (afterOffline) {
        QVERIFY(load(pages.titled(QStringLiteral("a.html"), QStringLiteral("A"))));
        browser->setOffline(true);
        QTRY_COMPARE_WITH_TIMEOUT(browser->offlineState(), OfflineState::OfflineBehindGate, 20000);
        browser->setOffline(false);
    }
    QVERIFY(load(QUrl(
        QStringLiteral("http://%1:%2/many.html?n=40").arg(own.toString()).arg(camera.port()))));
    QVERIFY2(titleBecomes(QStringLiteral("40 open, late done"), 30000),
             qPrintable(browser->LocationName()));
}

// The camera page talks to a WebRTC answerer in another browser process at
// this machine's address (host candidates, no TURN): it plays online, and
// after Work Offline the answerer gets no further packet from it.
void TestOfflineRealPage::webRtcWithAnAnswererOnTheLan()
{
    const QHostAddress own = LocalHttpServer::ownAddress();
    if (own.isNull())
        QSKIP("this machine has no address besides loopback");
    PythonServer signal(QStringLiteral("rtc_signal.py"), {own.toString()});
    QVERIFY(signal.isRunning());
    const QString base = QStringLiteral("http://%1:%2").arg(own.toString()).arg(signal.port());
    // The answerer: the recorder, another process, as a headless browser. It
    // gives its addresses plainly, as a camera's own WebRTC server does.
    QTemporaryDir pictures;
    QProcess answerer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
               QStringLiteral("--disable-features=WebRtcHideLocalIpsWithMdns"));
    answerer.setProcessEnvironment(env);
    answerer.start(QStringLiteral(FRAMELOG_RECORD_BINARY),
                   {QStringLiteral("--url"), base + QStringLiteral("/answerer.html"),
                    QStringLiteral("--every"), QStringLiteral("10s"), QStringLiteral("--for"),
                    QStringLiteral("3min"), QStringLiteral("--pattern"),
                    pictures.filePath(QStringLiteral("a%counter%.jpg")),
                    QStringLiteral("--quiet")});
    const auto stop = qScopeGuard([&] {
        answerer.kill();
        answerer.waitForFinished(10000);
    });

    QVERIFY(load(QUrl(base + QStringLiteral("/camera.html"))));
    QVERIFY2(titleBecomes(QStringLiteral("playing"), kPlayMs), qPrintable(browser->LocationName()));
    const auto packets = [&] {
        QNetworkAccessManager network;
        network.setProxy(QNetworkProxy::NoProxy);
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(base + QStringLiteral("/stats"))));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(10000);
        reply->deleteLater();
        return QJsonDocument::fromJson(reply->readAll()).object()[u"packets"].toInt();
    };
    QTRY_VERIFY_WITH_TIMEOUT(packets() > 50, 20000);

    browser->setOffline(true);
    QTest::qWait(500); // the answerer's report of what came before
    const int atSwitch = packets();
    QTest::qWait(3000);
    QCOMPARE(packets(), atSwitch);
}

FRAMELOG_BROWSER_TEST_MAIN(TestOfflineRealPage)
#include "test_offline_real_page.moc"

// What the browser lets a page load: nothing past the offline gate while
// offline; local files are left to Chromium's own rules.
#include "browse/request_rules.h"

#include <QtTest>

using namespace framelog;

Q_DECLARE_METATYPE(framelog::OfflineState)

class TestRequestRules : public QObject {
    Q_OBJECT
private slots:
    void offline_data();
    void offline();
};

void TestRequestRules::offline_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<OfflineState>("state");
    QTest::addColumn<bool>("refused");
    const auto online = OfflineState::Online;
    const auto gated = OfflineState::OfflineBehindGate;
    const auto ungated = OfflineState::Offline;
    QTest::newRow("online") << "http://127.0.0.1/" << online << false;
    QTest::newRow("web, the gate refuses it") << "https://example.com/" << gated << false;
    QTest::newRow("machine's own address") << "http://192.0.2.2:8080/" << gated << false;
    QTest::newRow("loopback") << "http://127.0.0.1:8080/" << gated << true;
    QTest::newRow("loopback, other") << "http://127.1.2.3/" << gated << true;
    QTest::newRow("localhost") << "http://LocalHost./" << gated << true;
    QTest::newRow("a .localhost name") << "http://cam.localhost/" << gated << true;
    QTest::newRow("a name without a dot") << "http://camera:8080/live" << gated << true;
    QTest::newRow("IPv6 loopback") << "http://[::1]:81/" << gated << true;
    QTest::newRow("link-local") << "http://169.254.10.1/" << gated << true;
    QTest::newRow("IPv6 link-local") << "http://[fe80::1]/" << gated << true;
    QTest::newRow("this machine, 0.0.0.0") << "http://0.0.0.0:8080/" << gated << true;
    QTest::newRow("this machine, ::") << "http://[::]:8080/" << gated << true;
    QTest::newRow("WebSocket") << "wss://example.com/live" << gated << true;
    QTest::newRow("not yet behind the gate") << "https://example.com/" << ungated << true;
    QTest::newRow("WebSocket, no gate") << "ws://192.0.2.2/" << ungated << true;
    QTest::newRow("no gate") << "http://example.com/" << ungated << true;
    QTest::newRow("built-in page") << "qrc:/framelog/start.html" << ungated << false;
    QTest::newRow("data") << "data:text/html,x" << ungated << false;
    // Chromium's own rules apply to files: a page's pictures from ../img load.
    QTest::newRow("a file, no gate") << "file:///srv/cam/page/../img/a.png" << ungated << false;
}

void TestRequestRules::offline()
{
    QFETCH(QString, url);
    QFETCH(OfflineState, state);
    QFETCH(bool, refused);
    QCOMPARE(refuseWhileOffline(QUrl(url), state), refused);
}

QTEST_MAIN(TestRequestRules)
#include "test_request_rules.moc"

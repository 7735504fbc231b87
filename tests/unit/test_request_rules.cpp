// What the browser lets a page load: nothing past the offline gate while
// offline, and no local file that a page reads without it being part of it.
#include "browse/request_rules.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace framelog;

Q_DECLARE_METATYPE(framelog::OfflineState)

namespace {

enum Kind { Page, Typed, Linked, Frame, Read };

} // namespace

class TestRequestRules : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void localFiles_data();
    void localFiles();
    void offline_data();
    void offline();

private:
    QUrl file(const QString &path) const { return QUrl::fromLocalFile(m_root.filePath(path)); }
    QTemporaryDir m_root;
};

void TestRequestRules::initTestCase()
{
    QVERIFY(m_root.isValid());
    QDir root(m_root.path());
    QVERIFY(root.mkpath(QStringLiteral("site/sub")));
    for (const char *name : {"site/index.html", "site/other.html", "site/pic.png",
                             "site/sub/style.css", "secret.txt"}) {
        QFile f(root.filePath(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(root.filePath(QStringLiteral("secret.txt")),
                        root.filePath(QStringLiteral("site/link.txt"))));
}

void TestRequestRules::localFiles_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QUrl>("page"); // the top page, or the window's page for navigations
    QTest::addColumn<bool>("refused");
    const QUrl index = file(QStringLiteral("site/index.html"));
    const QUrl secret = file(QStringLiteral("secret.txt"));
    const QUrl web(QStringLiteral("http://example.com/"));

    QTest::newRow("picture beside the page")
        << int(Frame) << file("site/pic.png") << index << false;
    QTest::newRow("style in a subfolder")
        << int(Frame) << file("site/sub/style.css") << index << false;
    QTest::newRow("file outside the folder") << int(Frame) << secret << index << true;
    QTest::newRow("a way out through ..")
        << int(Frame) << file("site/sub/../../secret.txt") << index << true;
    QTest::newRow("a link in the folder leading out")
        << int(Frame) << file("site/link.txt") << index << true;
    QTest::newRow("a file that is not there")
        << int(Frame) << file("site/none.png") << index << true;
    QTest::newRow("a web page's frame") << int(Frame) << file("site/pic.png") << web << true;
    QTest::newRow("script reads a file beside the page")
        << int(Read) << file("site/pic.png") << index << true;
    QTest::newRow("typed by the user") << int(Typed) << secret << index << false;
    QTest::newRow("page-made, beside it")
        << int(Linked) << file("site/other.html") << index << false;
    QTest::newRow("page-made, outside") << int(Linked) << secret << index << true;
    QTest::newRow("page-made from a web page")
        << int(Linked) << file("site/other.html") << web << true;
    QTest::newRow("new popup, nothing shown yet")
        << int(Linked) << file("site/other.html") << QUrl() << true;
}

void TestRequestRules::localFiles()
{
    QFETCH(int, kind);
    QFETCH(QUrl, url);
    QFETCH(QUrl, page);
    QFETCH(bool, refused);
    RequestFacts request;
    request.url = url;
    request.mainFrame = kind == Typed || kind == Linked;
    request.scriptRead = kind == Read;
    request.pageInitiated = kind == Linked;
    request.firstParty = request.mainFrame ? url : page;
    request.windowPage = page;
    // The same whether online or not.
    QCOMPARE(refuseRequest(request, OfflineState::Online), refused);
    QCOMPARE(refuseRequest(request, OfflineState::OfflineBehindGate), refused);
}

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
    QTest::newRow("IPv6 loopback") << "http://[::1]:81/" << gated << true;
    QTest::newRow("link-local") << "http://169.254.10.1/" << gated << true;
    QTest::newRow("IPv6 link-local") << "http://[fe80::1]/" << gated << true;
    QTest::newRow("WebSocket") << "wss://example.com/live" << gated << true;
    QTest::newRow("no gate") << "http://example.com/" << ungated << true;
    QTest::newRow("built-in page") << "qrc:/framelog/start.html" << ungated << false;
    QTest::newRow("data") << "data:text/html,x" << ungated << false;
}

void TestRequestRules::offline()
{
    QFETCH(QString, url);
    QFETCH(OfflineState, state);
    QFETCH(bool, refused);
    RequestFacts request;
    request.url = QUrl(url);
    request.firstParty = request.url;
    request.mainFrame = true;
    QCOMPARE(refuseRequest(request, state), refused);
}

QTEST_MAIN(TestRequestRules)
#include "test_request_rules.moc"

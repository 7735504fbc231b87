// Work Offline without a start-up flag: no gate until a control that has
// been online goes offline; then the gate is the engine's proxy, what the
// pages hold is cut, and requests go on to the engine's cache only once a
// probe shows that the engine sends them to the gate. Online again, the
// proxy is what it was.
#include "browse/offline_gate.h"
#include "browse/offline_switch.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

using namespace framelog;

Q_DECLARE_METATYPE(framelog::OfflineState)

namespace {

constexpr int kTimeout = 10000;

// The engine as the gate meets it: it sends each probe straight to the
// gate's port until it has looked at its proxy `stale` times, then through
// the gate (never, with a negative `stale`).
struct Engine {
    int stale = 0;
    int probes = 0;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;

    void probe(const QUrl &url)
    {
        const bool through = stale >= 0 && probes >= stale;
        ++probes;
        auto socket = std::make_unique<QTcpSocket>();
        socket->setProxy(QNetworkProxy::NoProxy);
        socket->connectToHost(QHostAddress::LocalHost, quint16(url.port()));
        QByteArray request = "GET " + url.path().toLatin1() + " HTTP/1.1\r\n\r\n";
        if (through) {
            QByteArray connect("\x05\x01\x00\x05\x01\x00\x01\x00\x00\x00\x00\x00\x00", 13);
            qToBigEndian(quint16(url.port()), connect.data() + 11);
            request.prepend(connect);
        }
        socket->write(request);
        sockets.push_back(std::move(socket));
    }
};

} // namespace

class TestOfflineSwitch : public QObject {
    Q_OBJECT
private slots:
    void neverOnlineNeedsNoGate();
    void goesBehindTheGateOnceTheEngineDoes_data();
    void goesBehindTheGateOnceTheEngineDoes();
    void theProxyIsRestoredWhenTheLastGoesOnline();
    void cutsWhatThePagesHold();

private:
    std::unique_ptr<OfflineSwitch> makeSwitch(Engine &engine, QList<bool> *told = nullptr);
};

std::unique_ptr<OfflineSwitch> TestOfflineSwitch::makeSwitch(Engine &engine, QList<bool> *told)
{
    OfflineSwitch::Hooks hooks;
    hooks.probe = [&engine](const QUrl &url) { engine.probe(url); };
    hooks.tellPages = [told](bool offline) {
        if (told)
            told->append(offline);
    };
    return std::make_unique<OfflineSwitch>(std::move(hooks));
}

// A recorder's offline recipe: nothing was ever online, so nothing is cut,
// no gate is made and every network request is refused.
void TestOfflineSwitch::neverOnlineNeedsNoGate()
{
    Engine engine;
    QList<bool> told;
    auto offline = makeSwitch(engine, &told);
    const QNetworkProxy before = QNetworkProxy::applicationProxy();
    offline->setOffline(true);
    QCOMPARE(offline->state(), OfflineState::Offline);
    QCOMPARE(told, QList<bool>{true});
    QVERIFY(!OfflineGate::exists());
    QCOMPARE(QNetworkProxy::applicationProxy(), before);
    QCOMPARE(engine.probes, 0);
    offline->setOffline(false);
    QCOMPARE(offline->state(), OfflineState::Online);
    QCOMPARE(told, (QList<bool>{true, false}));
}

void TestOfflineSwitch::goesBehindTheGateOnceTheEngineDoes_data()
{
    QTest::addColumn<int>("stale");
    QTest::addColumn<OfflineState>("state");
    QTest::addColumn<int>("probes");
    QTest::newRow("at once") << 0 << OfflineState::OfflineBehindGate << 1;
    QTest::newRow("after three looks") << 3 << OfflineState::OfflineBehindGate << 4;
    // Then everything stays refused.
    QTest::newRow("never") << -1 << OfflineState::Offline << OfflineSwitch::kMaxProbes;
}

void TestOfflineSwitch::goesBehindTheGateOnceTheEngineDoes()
{
    QFETCH(int, stale);
    QFETCH(OfflineState, state);
    QFETCH(int, probes);
    Engine engine;
    engine.stale = stale;
    auto offline = makeSwitch(engine);
    const QNetworkProxy before = QNetworkProxy::applicationProxy();
    offline->noteOnlineUse();
    offline->setOffline(true);
    // Until the engine is seen to use the gate, nothing goes.
    QCOMPARE(offline->state(), OfflineState::Offline);
    const OfflineGate &gate = OfflineGate::instance();
    QVERIFY(gate.isClosed());
    QCOMPARE(QNetworkProxy::applicationProxy(),
             QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), gate.port()));
    QTRY_COMPARE_WITH_TIMEOUT(engine.probes, probes, kTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(offline->state(), state, kTimeout);
    QTest::qWait(100);
    QCOMPARE(engine.probes, probes);
    // What the probes asked for is let through, and nothing else like it.
    const QUrl probe(QStringLiteral("http://0.0.0.0:%1/framelog-probe/").arg(gate.port()));
    QVERIFY(!offline->isProbe(probe));
    QVERIFY(!offline->isProbe(QUrl(QStringLiteral("http://0.0.0.0/"))));

    offline->setOffline(false);
    QCOMPARE(offline->state(), OfflineState::Online);
    QVERIFY(!gate.isClosed());
    QCOMPARE(QNetworkProxy::applicationProxy(), before);
}

void TestOfflineSwitch::theProxyIsRestoredWhenTheLastGoesOnline()
{
    const QNetworkProxy users(QNetworkProxy::HttpProxy, QStringLiteral("proxy.example"), 3128);
    QNetworkProxy::setApplicationProxy(users);
    Engine engine;
    auto first = makeSwitch(engine);
    auto second = makeSwitch(engine);
    for (auto *one : {first.get(), second.get()}) {
        one->noteOnlineUse();
        one->setOffline(true);
    }
    const OfflineGate &gate = OfflineGate::instance();
    first->setOffline(false);
    QVERIFY(gate.isClosed());
    QCOMPARE(QNetworkProxy::applicationProxy().port(), gate.port());
    second.reset(); // going away counts as going online
    QVERIFY(!gate.isClosed());
    QCOMPARE(QNetworkProxy::applicationProxy(), users);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

// A stream the pages hold is cut when a control that was online goes
// offline, and only then.
void TestOfflineSwitch::cutsWhatThePagesHold()
{
    QTcpServer camera;
    camera.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(camera.listen(QHostAddress::LocalHost));
    for (const bool usedOnline : {false, true}) {
        QTcpSocket stream;
        stream.setProxy(QNetworkProxy::NoProxy);
        stream.connectToHost(QHostAddress::LocalHost, camera.serverPort());
        QVERIFY(stream.waitForConnected(kTimeout));
        QVERIFY(camera.waitForNewConnection(kTimeout));
        std::unique_ptr<QTcpSocket> served(camera.nextPendingConnection());
        Engine engine;
        auto offline = makeSwitch(engine);
        if (usedOnline)
            offline->noteOnlineUse();
        offline->setOffline(true);
        served->write("frame");
        served->waitForBytesWritten(kTimeout);
        if (usedOnline) {
            QTRY_COMPARE_WITH_TIMEOUT(stream.state(), QAbstractSocket::UnconnectedState, kTimeout);
            QCOMPARE(stream.error(), QAbstractSocket::RemoteHostClosedError);
        } else {
            QVERIFY(stream.waitForReadyRead(kTimeout));
            QCOMPARE(stream.readAll(), QByteArray("frame"));
        }
    }
}

QTEST_GUILESS_MAIN(TestOfflineSwitch)
#include "test_offline_switch.moc"

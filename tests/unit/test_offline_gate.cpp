// The offline gate as the browser meets it: a SOCKS5 proxy on 127.0.0.1 that
// relays while open, refuses while closed and cuts what is open when it
// closes.
#include "browse/offline_gate.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include <memory>

using namespace framelog;

namespace {

constexpr int kTimeout = 10000;

// The address the gate's tunnels lead to: echoes what it gets.
class EchoServer : public QObject {
public:
    EchoServer()
    {
        m_server.setProxy(QNetworkProxy::NoProxy);
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                open.append(socket);
                connect(socket, &QTcpSocket::readyRead, socket,
                        [socket] { socket->write(socket->readAll()); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    open.removeAll(socket);
                    socket->deleteLater();
                });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections = 0;
    QList<QTcpSocket *> open;

private:
    QTcpServer m_server;
};

// The browser's side of a tunnel.
struct Client {
    explicit Client(quint16 gatePort)
    {
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                         [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, gatePort);
    }
    // Waits until `size` bytes have come, and takes them.
    QByteArray take(qsizetype size)
    {
        if (!QTest::qWaitFor([&] { return received.size() >= size; }, kTimeout))
            return {};
        const QByteArray head = received.left(size);
        received.remove(0, size);
        return head;
    }
    QTcpSocket socket;
    QByteArray received;
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

QByteArray portBytes(quint16 port)
{
    return bytes({port >> 8, port & 0xff});
}

QByteArray connectByName(const QByteArray &host, quint16 port)
{
    return bytes({5, 1, 0, 3, int(host.size())}) + host + portBytes(port);
}

QByteArray connectByAddress(quint16 port)
{
    return bytes({5, 1, 0, 1, 127, 0, 0, 1}) + portBytes(port);
}

const QByteArray kGreeting = bytes({5, 1, 0});
const QByteArray kChosen = bytes({5, 0});

// The reply code of a CONNECT: 0 granted, 2 not allowed...
int replyCode(const QByteArray &reply)
{
    return reply.size() == 10 && reply[0] == 5 ? int(uchar(reply[1])) : -1;
}

} // namespace

class TestOfflineGate : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void relaysBothWays_data();
    void relaysBothWays();
    void refusesWhileClosed();
    void closingCutsWhatIsOpen();
    void answersWhatItDoesNotServe_data();
    void answersWhatItDoesNotServe();
    void largeTransferArrivesWhole();

private:
    // A tunnel through the gate to the echo server, or a failure.
    std::unique_ptr<Client> tunnel();

    std::unique_ptr<OfflineGate> gate;
    std::unique_ptr<EchoServer> echo;
};

void TestOfflineGate::init()
{
    gate = std::make_unique<OfflineGate>();
    QVERIFY(gate->isListening());
    echo = std::make_unique<EchoServer>();
}

void TestOfflineGate::cleanup()
{
    gate.reset();
    echo.reset();
}

std::unique_ptr<Client> TestOfflineGate::tunnel()
{
    auto client = std::make_unique<Client>(gate->port());
    client->socket.write(kGreeting + connectByAddress(echo->port()));
    if (client->take(2) != kChosen || replyCode(client->take(10)) != 0)
        return nullptr;
    return client;
}

void TestOfflineGate::relaysBothWays_data()
{
    QTest::addColumn<QByteArray>("host"); // empty: by address
    QTest::addColumn<bool>("byteByByte");
    QTest::newRow("address") << QByteArray() << false;
    QTest::newRow("name") << QByteArray("localhost") << false;
    QTest::newRow("handshake a byte at a time") << QByteArray("localhost") << true;
}

void TestOfflineGate::relaysBothWays()
{
    QFETCH(QByteArray, host);
    QFETCH(bool, byteByByte);
    Client client(gate->port());
    const QByteArray request =
        host.isEmpty() ? connectByAddress(echo->port()) : connectByName(host, echo->port());
    // The page's first bytes may follow the request at once.
    const QByteArray handshake = kGreeting + request + "hello";
    if (byteByByte) {
        // One write each; the gate's thread mostly reads them one by one.
        for (char c : handshake) {
            client.socket.write(&c, 1);
            client.socket.waitForBytesWritten(kTimeout);
        }
    } else {
        client.socket.write(handshake);
    }
    QCOMPARE(client.take(2), kChosen);
    QCOMPARE(replyCode(client.take(10)), 0);
    QCOMPARE(client.take(5), QByteArray("hello"));
    client.socket.write("and back");
    QCOMPARE(client.take(8), QByteArray("and back"));
    QCOMPARE(gate->relayedCount(), 1);

    // The browser ends the tunnel: so does the gate, on the far side.
    client.socket.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(echo->open.isEmpty(), kTimeout);
}

void TestOfflineGate::refusesWhileClosed()
{
    gate->close();
    gate->close();
    gate->open(); // one holder still wants it closed
    QVERIFY(gate->isClosed());
    Client client(gate->port());
    client.socket.write(kGreeting + connectByAddress(echo->port()));
    QCOMPARE(client.take(2), kChosen);
    QCOMPARE(replyCode(client.take(10)), 2);
    QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, kTimeout);
    QCOMPARE(echo->connections, 0);
    QCOMPARE(gate->refusedCount(), 1);

    gate->open();
    QVERIFY(!gate->isClosed());
    QVERIFY(tunnel());
    QCOMPARE(echo->connections, 1);
}

void TestOfflineGate::closingCutsWhatIsOpen()
{
    std::unique_ptr<Client> client = tunnel();
    QVERIFY(client);
    QTRY_COMPARE_WITH_TIMEOUT(echo->open.size(), 1, kTimeout);
    gate->close();
    // Both ends go, so a kept-alive connection cannot carry a request.
    QTRY_COMPARE_WITH_TIMEOUT(client->socket.state(), QAbstractSocket::UnconnectedState, kTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(echo->open.isEmpty(), kTimeout);
}

void TestOfflineGate::answersWhatItDoesNotServe_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer"); // then the gate hangs up
    const QByteArray refusedPort = [] {
        QTcpServer closed; // a port nobody listens on once this is gone
        closed.setProxy(QNetworkProxy::NoProxy);
        closed.listen(QHostAddress::LocalHost);
        return portBytes(closed.serverPort());
    }();
    QTest::newRow("not SOCKS5") << QByteArray("GET / HTTP/1.1\r\n\r\n") << QByteArray();
    QTest::newRow("no method without a password") << bytes({5, 1, 2}) << bytes({5, 0xff});
    QTest::newRow("BIND") << kGreeting + bytes({5, 2, 0, 1, 127, 0, 0, 1, 0, 80})
                          << kChosen + bytes({5, 7, 0, 1, 0, 0, 0, 0, 0, 0});
    QTest::newRow("unknown address type")
        << kGreeting + bytes({5, 1, 0, 9, 0, 0}) << kChosen + bytes({5, 8, 0, 1, 0, 0, 0, 0, 0, 0});
    QTest::newRow("nobody listening") << kGreeting + bytes({5, 1, 0, 1, 127, 0, 0, 1}) + refusedPort
                                      << kChosen + bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0});
}

void TestOfflineGate::answersWhatItDoesNotServe()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    Client client(gate->port());
    client.socket.write(sent);
    QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, kTimeout);
    QCOMPARE(client.received, answer);
    QCOMPARE(gate->relayedCount(), 0);
}

void TestOfflineGate::largeTransferArrivesWhole()
{
    std::unique_ptr<Client> client = tunnel();
    QVERIFY(client);
    QByteArray data(8 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 7919) >> 3);
    client->socket.write(data);
    QTRY_COMPARE_WITH_TIMEOUT(client->received.size(), data.size(), 60000);
    QVERIFY(client->received == data);
}

QTEST_MAIN(TestOfflineGate)
#include "test_offline_gate.moc"

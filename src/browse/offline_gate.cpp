#include "browse/offline_gate.h"

#include "browse/socket_owner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QPointer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

#include <algorithm>
#include <atomic>

#include <unistd.h>

namespace framelog {

namespace {

// Relaying reads at most this much at a time.
constexpr qint64 kChunk = 64 * 1024;
// Longer than any handshake (a domain name has at most 255 bytes) or a
// probe's request line.
constexpr qsizetype kMaxHandshake = 600;

const QByteArray kProbePath = QByteArrayLiteral("/framelog-probe/");
const QByteArray kProbeAnswer =
    QByteArrayLiteral("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");

// SOCKS5 (RFC 1928).
constexpr char kVersion = 0x05;
constexpr char kNoAuthentication = 0x00;
constexpr char kConnect = 0x01;
enum Reply : char {
    Succeeded = 0x00,
    GeneralFailure = 0x01,
    NotAllowed = 0x02,
    NetworkUnreachable = 0x03,
    HostUnreachable = 0x04,
    ConnectionRefused = 0x05,
    TtlExpired = 0x06,
    CommandNotSupported = 0x07,
    AddressTypeNotSupported = 0x08,
};

QByteArray reply(Reply code)
{
    // The bound address is of no use to the browser: 0.0.0.0:0.
    QByteArray bytes(10, '\0');
    bytes[0] = kVersion;
    bytes[1] = code;
    bytes[3] = 0x01;
    return bytes;
}

Reply replyFor(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return ConnectionRefused;
    case QAbstractSocket::HostNotFoundError:
        return HostUnreachable;
    case QAbstractSocket::NetworkError:
        return NetworkUnreachable;
    case QAbstractSocket::SocketTimeoutError:
        return TtlExpired;
    default:
        return GeneralFailure;
    }
}

bool isLoopback(const QString &host)
{
    const QHostAddress address(host);
    if (!address.isNull())
        return address.isLoopback();
    return host.compare(u"localhost", Qt::CaseInsensitive) == 0 ||
           host.endsWith(u".localhost", Qt::CaseInsensitive);
}

bool isThisMachine(const QString &host)
{
    const QHostAddress address(host);
    return address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6;
}

// The user's own proxy for the address (from the environment or the
// desktop's settings), as the engine would have used it had the gate not been
// its proxy. The gate itself may be the application's proxy, so an upstream
// socket must never be left to the default.
QNetworkProxy upstreamProxy(const QString &host, quint16 port)
{
    if (isLoopback(host))
        return QNetworkProxy::NoProxy;
    QUrl url;
    url.setScheme(port == 443 ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(host);
    url.setPort(port);
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    for (const QNetworkProxy &proxy : proxies) {
        if (proxy.type() == QNetworkProxy::NoProxy || proxy.type() == QNetworkProxy::HttpProxy ||
            proxy.type() == QNetworkProxy::Socks5Proxy)
            return proxy;
    }
    return QNetworkProxy::NoProxy;
}

// The token of a probe's request line ("GET /framelog-probe/<token> HTTP/1.1"),
// or nothing.
std::optional<QByteArray> probeToken(const QByteArray &line)
{
    const QList<QByteArray> parts = line.trimmed().split(' ');
    if (parts.size() != 3 || parts[0] != "GET" || !parts[1].startsWith(kProbePath) ||
        !parts[2].startsWith("HTTP/"))
        return std::nullopt;
    const QByteArray token = parts[1].mid(kProbePath.size());
    if (token.isEmpty() || token.size() > 64)
        return std::nullopt;
    return token;
}

} // namespace

class GateServer;

struct OfflineGate::State {
    explicit State(Limits limits) : limits(limits) {}
    const Limits limits;
    std::atomic<int> closers{0};
    std::atomic<int> refused{0};
    std::atomic<int> relayed{0};
    std::atomic<int> foreign{0};
    std::atomic<int> turnedAway{0};
    std::atomic<int> idleCuts{0};
    std::atomic<qint64> buffered{0};
    OfflineGateProbes probes;

    class Thread : public QThread {
    public:
        explicit Thread(State *state) : m_state(state) {}
        // Set by the thread before `ready` is released; valid while it runs.
        GateServer *server = nullptr;
        quint16 port = 0;
        QSemaphore ready;

    protected:
        void run() override;

    private:
        State *m_state;
    };
    Thread thread{this};
};

namespace {
class Session;
}

// The listener and its sessions, on the gate's thread.
class GateServer : public QTcpServer {
public:
    explicit GateServer(OfflineGate::State *state);

    OfflineGate::State *state() const { return m_state; }
    void cutAll();

    // What each socket of a session may hold, read and waiting to be sent:
    // all sessions together hold at most the limit's bytes.
    qint64 share() const
    {
        const OfflineGate::Limits &limits = m_state->limits;
        return std::max<qint64>(4096, limits.bufferedBytes / (4 * std::max(1, limits.sessions)));
    }

private:
    void accept(QTcpSocket *client);

    OfflineGate::State *m_state;
    QList<QPointer<Session>> m_sessions;
};

namespace {

// One browser connection: the SOCKS5 handshake, then a tunnel to the address
// it asked for (or a probe, answered by the gate itself). Lives on the gate's
// thread.
class Session : public QObject {
public:
    Session(QTcpSocket *client, GateServer *server)
        : QObject(server), m_client(client), m_server(server), m_state(server->state())
    {
        m_client->setParent(this);
        m_client->setReadBufferSize(m_server->share());
        connect(m_client, &QTcpSocket::readyRead, this, [this] { clientReadable(); });
        connect(m_client, &QTcpSocket::bytesWritten, this, [this] { flow(m_upstream, m_client); });
        connect(m_client, &QTcpSocket::disconnected, this, [this] { clientGone(); });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { timedOut(); });
        m_timer.start(m_state->limits.handshakeTimeoutMs);
        clientReadable();
    }
    // Both sockets closed at once, nothing pending is sent.
    void cut()
    {
        if (m_done)
            return;
        m_done = true;
        m_timer.stop();
        m_client->abort();
        if (m_upstream)
            m_upstream->abort();
        account();
        deleteLater();
    }

private:
    enum class Stage { Greeting, Request, Connecting, Relaying, Probe, Closing };

    bool closed() const { return m_state->closers.load() > 0; }

    void clientReadable()
    {
        if (m_done)
            return;
        switch (m_stage) {
        case Stage::Relaying:
            flow(m_client, m_upstream);
            return;
        case Stage::Closing:
            m_client->readAll();
            return;
        case Stage::Connecting:
        case Stage::Greeting:
        case Stage::Request:
        case Stage::Probe:
            break;
        }
        m_in += m_client->readAll();
        if (m_in.size() > kMaxHandshake) {
            cut();
            return;
        }
        if (m_stage == Stage::Greeting)
            readGreeting();
        if (m_stage == Stage::Request)
            readRequest();
        if (m_stage == Stage::Probe)
            readProbe(true);
    }

    void readGreeting()
    {
        if (m_in.isEmpty())
            return;
        if (m_in[0] != kVersion) {
            // Not SOCKS: only a probe that reached the gate straight.
            readProbe(false);
            return;
        }
        if (m_in.size() < 2)
            return;
        const qsizetype methods = uchar(m_in[1]);
        if (m_in.size() < 2 + methods)
            return;
        const bool noAuthentication = m_in.mid(2, methods).contains(kNoAuthentication);
        m_in.remove(0, 2 + methods);
        if (!noAuthentication) {
            m_client->write(QByteArray("\x05\xff", 2));
            finishWriting();
            return;
        }
        m_client->write(QByteArray("\x05\x00", 2));
        m_stage = Stage::Request;
    }

    void readRequest()
    {
        if (m_in.size() < 5)
            return;
        if (m_in[0] != kVersion) {
            cut();
            return;
        }
        const char command = m_in[1];
        qsizetype addressLength = 0;
        switch (m_in[3]) {
        case 0x01:
            addressLength = 4;
            break;
        case 0x04:
            addressLength = 16;
            break;
        case 0x03:
            addressLength = 1 + uchar(m_in[4]);
            break;
        default:
            refuse(AddressTypeNotSupported);
            return;
        }
        const qsizetype length = 4 + addressLength + 2;
        if (m_in.size() < length)
            return;
        const auto *bytes = reinterpret_cast<const uchar *>(m_in.constData());
        QString host;
        switch (m_in[3]) {
        case 0x01:
            host = QHostAddress(qFromBigEndian<quint32>(bytes + 4)).toString();
            break;
        case 0x04:
            host = QHostAddress(bytes + 4).toString();
            break;
        default:
            host = QString::fromLatin1(m_in.mid(5, addressLength - 1));
            break;
        }
        const quint16 port = qFromBigEndian<quint16>(bytes + 4 + addressLength);
        m_in.remove(0, length);
        if (command != kConnect) {
            refuse(CommandNotSupported);
            return;
        }
        if (isThisMachine(host) && port == m_server->serverPort()) {
            // A probe through the gate: answered here, open or closed.
            m_client->write(reply(Succeeded));
            m_stage = Stage::Probe;
            return;
        }
        if (closed()) {
            ++m_state->refused;
            refuse(NotAllowed);
            return;
        }
        connectUpstream(host, port);
    }

    // The request line of a probe, once it is there.
    void readProbe(bool throughGate)
    {
        const qsizetype end = m_in.indexOf("\r\n");
        if (end < 0) {
            // Until the line is whole, it must still read as a probe's.
            if (!QByteArray("GET ").startsWith(m_in.left(4)))
                cut();
            return;
        }
        const std::optional<QByteArray> token = probeToken(m_in.left(end));
        if (!token) {
            cut();
            return;
        }
        m_in.clear();
        m_stage = Stage::Probe;
        emit m_state->probes.probeSeen(*token, throughGate);
        m_client->write(kProbeAnswer);
        finishWriting();
    }

    void connectUpstream(const QString &host, quint16 port)
    {
        m_stage = Stage::Connecting;
        m_timer.start(m_state->limits.connectTimeoutMs);
        m_upstream = new QTcpSocket(this);
        m_upstream->setProxy(upstreamProxy(host, port));
        m_upstream->setReadBufferSize(m_server->share());
        connect(m_upstream, &QTcpSocket::connected, this, [this] { upstreamConnected(); });
        connect(m_upstream, &QTcpSocket::errorOccurred, this,
                [this](QAbstractSocket::SocketError error) {
                    if (!m_done && m_stage == Stage::Connecting)
                        refuse(replyFor(error));
                });
        connect(m_upstream, &QTcpSocket::readyRead, this, [this] { flow(m_upstream, m_client); });
        connect(m_upstream, &QTcpSocket::bytesWritten, this,
                [this] { flow(m_client, m_upstream); });
        connect(m_upstream, &QTcpSocket::disconnected, this, [this] {
            if (m_stage == Stage::Relaying)
                flow(m_upstream, m_client);
        });
        m_upstream->connectToHost(host, port);
    }

    void upstreamConnected()
    {
        if (m_done)
            return;
        if (closed()) {
            cut();
            return;
        }
        m_stage = Stage::Relaying;
        ++m_state->relayed;
        m_quiet.start();
        m_timer.start(m_state->limits.idleTimeoutMs);
        m_client->write(reply(Succeeded));
        // Anything the browser sent ahead of the answer belongs to the tunnel.
        if (!m_in.isEmpty()) {
            m_upstream->write(m_in);
            m_in.clear();
        }
        flow(m_client, m_upstream);
        flow(m_upstream, m_client);
    }

    // Moves what `from` holds to `to`, as much as `to` may hold, and passes
    // an end of `from` on once everything before it has gone. A slow reader
    // slows the sender: what `to` has not sent stays unread in `from`.
    void flow(QTcpSocket *from, QTcpSocket *to)
    {
        if (m_done || m_stage != Stage::Relaying || !from || !to)
            return;
        if (closed()) {
            cut();
            return;
        }
        if (to->state() != QAbstractSocket::ConnectedState) {
            from->readAll(); // nobody left to hear it
        } else {
            const qint64 share = m_server->share();
            while (from->bytesAvailable() > 0 && to->bytesToWrite() < share) {
                const QByteArray chunk = from->read(std::min(kChunk, share - to->bytesToWrite()));
                if (chunk.isEmpty())
                    break;
                to->write(chunk);
                m_quiet.start();
            }
        }
        account();
        if (from->state() == QAbstractSocket::UnconnectedState && from->bytesAvailable() == 0 &&
            to->state() == QAbstractSocket::ConnectedState)
            to->disconnectFromHost();
        finishIfDone();
    }

    // Keeps the gate's count of what this session holds.
    void account()
    {
        qint64 held = 0;
        if (!m_done) {
            for (const QTcpSocket *socket : {m_client, m_upstream.data()}) {
                if (socket)
                    held += socket->bytesToWrite() + socket->bytesAvailable();
            }
        }
        m_state->buffered += held - m_held;
        m_held = held;
    }

    void clientGone()
    {
        if (m_done)
            return;
        if (m_stage == Stage::Relaying) {
            flow(m_client, m_upstream);
            return;
        }
        if (m_stage == Stage::Closing) {
            finishIfDone();
            return;
        }
        cut();
    }

    void refuse(Reply code)
    {
        if (m_upstream)
            m_upstream->abort();
        m_client->write(reply(code));
        finishWriting();
    }

    // Closes the client once what was written has gone.
    void finishWriting()
    {
        m_timer.start(m_state->limits.handshakeTimeoutMs); // a reader that never reads
        m_stage = Stage::Closing;
        m_client->disconnectFromHost();
        finishIfDone();
    }

    void timedOut()
    {
        if (m_done)
            return;
        switch (m_stage) {
        case Stage::Connecting:
            refuse(TtlExpired);
            return;
        case Stage::Relaying: {
            // Traffic restarts the count: wait for the rest of the time.
            const qint64 left = m_state->limits.idleTimeoutMs - m_quiet.elapsed();
            if (left > 0) {
                m_timer.start(int(left));
                return;
            }
            ++m_state->idleCuts;
            cut();
            return;
        }
        case Stage::Greeting:
        case Stage::Request:
        case Stage::Probe:
        case Stage::Closing:
            cut();
            return;
        }
    }

    void finishIfDone()
    {
        if (m_done)
            return;
        const bool clientOpen = m_client->state() != QAbstractSocket::UnconnectedState;
        const bool upstreamOpen =
            m_upstream && m_upstream->state() != QAbstractSocket::UnconnectedState;
        if (!clientOpen && !upstreamOpen) {
            m_done = true;
            m_timer.stop();
            account();
            deleteLater();
        }
    }

    QTcpSocket *m_client;
    QPointer<QTcpSocket> m_upstream;
    GateServer *m_server;
    OfflineGate::State *m_state;
    QByteArray m_in;
    QTimer m_timer;
    // Since the tunnel last carried a byte.
    QElapsedTimer m_quiet;
    qint64 m_held = 0;
    Stage m_stage = Stage::Greeting;
    bool m_done = false;
};

} // namespace

GateServer::GateServer(OfflineGate::State *state) : m_state(state)
{
    // Never through a proxy, the application's (that is this gate) least of all.
    setProxy(QNetworkProxy::NoProxy);
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *client = nextPendingConnection())
            accept(client);
    });
}

void GateServer::accept(QTcpSocket *client)
{
    // Whose socket is at the other end: the kernel lists it with the
    // client's address as its own.
    const std::optional<uid_t> owner = tcpSocketOwner(
        {client->peerAddress(), client->peerPort()}, {client->localAddress(), client->localPort()});
    if (!owner || *owner != ::geteuid()) {
        ++m_state->foreign;
        client->abort();
        client->deleteLater();
        return;
    }
    m_sessions.removeAll(nullptr);
    if (m_sessions.size() >= m_state->limits.sessions) {
        ++m_state->turnedAway;
        client->abort();
        client->deleteLater();
        return;
    }
    m_sessions.append(new Session(client, this));
}

void GateServer::cutAll()
{
    for (const QPointer<Session> &session : std::as_const(m_sessions)) {
        if (session)
            session->cut();
    }
    m_sessions.clear();
}

void OfflineGate::State::Thread::run()
{
    GateServer gate(m_state);
    const bool listening = gate.listen(QHostAddress::LocalHost, 0);
    port = listening ? gate.serverPort() : 0;
    server = listening ? &gate : nullptr;
    ready.release();
    if (listening)
        exec();
    server = nullptr;
}

OfflineGate::OfflineGate(Limits limits) : d(std::make_unique<State>(limits))
{
    d->thread.setObjectName(QStringLiteral("OfflineGate"));
    d->thread.start();
    d->thread.ready.acquire();
}

OfflineGate::~OfflineGate()
{
    d->thread.quit();
    d->thread.wait();
}

namespace {
OfflineGate *processGate = nullptr;
}

OfflineGate &OfflineGate::instance()
{
    if (!processGate) {
        processGate = new OfflineGate;
        qAddPostRoutine([] {
            delete processGate;
            processGate = nullptr;
        });
    }
    return *processGate;
}

bool OfflineGate::exists()
{
    return processGate != nullptr;
}

quint16 OfflineGate::port() const
{
    return d->thread.port;
}

void OfflineGate::close()
{
    if (d->closers.fetch_add(1) == 0 && d->thread.server) {
        GateServer *server = d->thread.server;
        QMetaObject::invokeMethod(
            server, [server] { server->cutAll(); }, Qt::QueuedConnection);
    }
}

void OfflineGate::open()
{
    int closers = d->closers.load();
    while (closers > 0 && !d->closers.compare_exchange_weak(closers, closers - 1)) {
    }
}

bool OfflineGate::isClosed() const
{
    return d->closers.load() > 0;
}

int OfflineGate::refusedCount() const
{
    return d->refused.load();
}

int OfflineGate::relayedCount() const
{
    return d->relayed.load();
}

int OfflineGate::foreignCount() const
{
    return d->foreign.load();
}

int OfflineGate::turnedAwayCount() const
{
    return d->turnedAway.load();
}

int OfflineGate::idleCutCount() const
{
    return d->idleCuts.load();
}

qint64 OfflineGate::bufferedBytes() const
{
    return d->buffered.load();
}

OfflineGateProbes *OfflineGate::probes() const
{
    return &d->probes;
}

} // namespace framelog

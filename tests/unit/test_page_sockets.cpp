// Cutting the pages' connections at Work Offline: every TCP connection and
// UDP socket the process made is ended; what the program had before its
// first page, what it serves and the engine's mDNS responder are left alone.
#include "browse/page_sockets.h"

#include <QtTest>

#include <cerrno>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace framelog;

namespace {

// A socket that closes itself.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

sockaddr_in loopback(quint16 port = 0)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

quint16 portOf(int fd)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    return ntohs(address.sin_port);
}

Fd listener()
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback();
    ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::listen(fd.get(), 4);
    return fd;
}

Fd connectTo(quint16 port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback(port);
    ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    return fd;
}

// Sends `text` and reads it back on `to`: whether the connection still
// carries bytes.
bool carries(int from, int to)
{
    const timeval wait{5, 0};
    ::setsockopt(to, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (::send(from, "ping", 4, MSG_NOSIGNAL) != 4)
        return false;
    char buffer[4];
    return ::recv(to, buffer, sizeof buffer, MSG_WAITALL) == 4;
}

// Made before the first page: the program's own.
struct Early {
    Fd server = listener();
    Fd client = connectTo(portOf(server.get()));
    Fd accepted = Fd(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
};

enum Kind { MadeLater, ProgramOwn, Datagram, MulticastDns };

} // namespace

class TestPageSockets : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cuts_data();
    void cuts();

private:
    std::unique_ptr<Early> m_early;
};

void TestPageSockets::initTestCase()
{
    m_early = std::make_unique<Early>();
    QVERIFY(m_early->accepted.get() >= 0);
    page_sockets::rememberProgramSockets();
}

void TestPageSockets::cuts_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("streams");
    QTest::addColumn<int>("datagrams");
    QTest::newRow("a connection the process made") << int(MadeLater) << 1 << 0;
    QTest::newRow("the program's own, from before") << int(ProgramOwn) << 0 << 0;
    QTest::newRow("a UDP socket") << int(Datagram) << 0 << 1;
    QTest::newRow("the mDNS responder's") << int(MulticastDns) << 0 << 0;
}

void TestPageSockets::cuts()
{
    QFETCH(int, kind);
    QFETCH(int, streams);
    QFETCH(int, datagrams);
    Fd server = listener();
    const quint16 port = portOf(server.get());
    switch (kind) {
    case MadeLater: {
        Fd client = connectTo(port);
        Fd accepted(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
        QVERIFY(carries(client.get(), accepted.get()));
        const page_sockets::Cut cut = page_sockets::cutAll();
        // The server's side (served) stays; the client's is reset.
        QCOMPARE(cut.streams, streams);
        QVERIFY(::send(client.get(), "x", 1, MSG_NOSIGNAL) < 0);
        char c;
        QVERIFY(::recv(accepted.get(), &c, 1, 0) <= 0); // the reset, or the end
        break;
    }
    case ProgramOwn: {
        const page_sockets::Cut cut = page_sockets::cutAll();
        QCOMPARE(cut.streams, streams);
        QVERIFY(carries(m_early->client.get(), m_early->accepted.get()));
        QVERIFY(carries(m_early->accepted.get(), m_early->client.get()));
        break;
    }
    case Datagram: {
        Fd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        Fd peer(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const sockaddr_in any = loopback();
        ::bind(peer.get(), reinterpret_cast<const sockaddr *>(&any), sizeof any);
        const sockaddr_in to = loopback(portOf(peer.get()));
        const auto send = [&] {
            return ::sendto(udp.get(), "x", 1, MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr *>(&to), sizeof to);
        };
        QCOMPARE(send(), 1);
        const page_sockets::Cut cut = page_sockets::cutAll();
        // Both sockets are the process's.
        QCOMPARE(cut.datagrams, 2 * datagrams);
        QCOMPARE(send(), -1);
        QCOMPARE(errno, EPIPE);
        break;
    }
    case MulticastDns: {
        Fd mdns(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(mdns.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in port = loopback(5353);
        QVERIFY(::bind(mdns.get(), reinterpret_cast<const sockaddr *>(&port), sizeof port) == 0);
        const page_sockets::Cut cut = page_sockets::cutAll();
        QCOMPARE(cut.datagrams, datagrams);
        QCOMPARE(::sendto(mdns.get(), "x", 1, MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr *>(&port), sizeof port),
                 1);
        break;
    }
    }
}

QTEST_GUILESS_MAIN(TestPageSockets)
#include "test_page_sockets.moc"

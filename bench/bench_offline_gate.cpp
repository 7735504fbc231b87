// What the offline gate's guards cost.
//
// 1. The owner check: how long asking the kernel which uid owns a loopback
//    connection's other end takes, by sock_diag (one socket asked for) and
//    by reading /proc/net/tcp (the whole table), with a few hundred other
//    connections open. The gate asks once per connection.
// 2. Memory with 300 stalled sessions: 300 clients of the program's own user
//    open tunnels to a camera (another process) that sends as fast as it
//    may, and never read. Prints the process's resident memory before and
//    once it stops growing, the bytes the gate holds, and the sessions
//    served and turned away.

#include "browse/offline_gate.h"
#include "browse/socket_owner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace framelog;

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

quint16 localPort(int fd)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    return ntohs(address.sin_port);
}

void ownerCheck()
{
    // Accepted by the kernel alone: a backlog for all of them.
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(server, reinterpret_cast<sockaddr *>(&any), sizeof any);
    ::listen(server, 1024);
    std::vector<int> clients;
    for (int i = 0; i < 300; ++i)
        clients.push_back(connectTo(localPort(server)));
    const TcpEnd gate{QHostAddress(QHostAddress::LocalHost), localPort(server)};
    int lines = 0;
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (table.open(QIODevice::ReadOnly))
        lines = int(table.readAll().count('\n')) - 1;
    std::printf("owner check, %d TCP sockets listed on this machine:\n", lines);
    for (const auto &[name, ask] : {std::pair{"sock_diag", &tcpSocketOwnerBySockDiag},
                                    std::pair{"/proc/net/tcp", &tcpSocketOwnerByProcNet}}) {
        double best = 1e300;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer clock;
            clock.start();
            int found = 0;
            for (int fd : clients) {
                const TcpEnd peer{QHostAddress(QHostAddress::LocalHost), localPort(fd)};
                found += ask(peer, gate) == ::geteuid();
            }
            if (found != int(clients.size()))
                std::printf("  %s found %d of %zu\n", name, found, clients.size());
            best = std::min(best, double(clock.nsecsElapsed()) / 1000.0 / double(clients.size()));
        }
        std::printf("  %-14s %8.1f us per connection\n", name, best);
    }
    for (int fd : clients)
        ::close(fd);
    ::close(server);
}

void stalledSessions()
{
    constexpr int kSessions = 300;
    // A camera that sends as fast as it may, in a process of its own.
    QProcess camera;
    camera.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import socket, threading\n"
                        "s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen(512)\n"
                        "print(s.getsockname()[1], flush=True)\n"
                        "def send(c):\n"
                        "    try:\n"
                        "        while True: c.sendall(b'x' * 65536)\n"
                        "    except OSError: pass\n"
                        "while True:\n"
                        "    c, _ = s.accept()\n"
                        "    threading.Thread(target=send, args=(c,), daemon=True).start()\n")});
    if (!camera.waitForReadyRead(10000)) {
        std::printf("stalled sessions: no python3\n");
        return;
    }
    const quint16 cameraPort = quint16(camera.readLine().trimmed().toUInt());
    const qint64 before = residentKiB();
    OfflineGate gate;
    const qint64 withGate = residentKiB();
    std::vector<int> clients;
    QByteArray request("\x05\x01\x00\x05\x01\x00\x01\x7f\x00\x00\x01\x00\x00", 13);
    request[11] = char(cameraPort >> 8);
    request[12] = char(cameraPort & 0xff);
    for (int i = 0; i < kSessions; ++i) {
        const int fd = connectTo(gate.port());
        if (fd < 0)
            continue;
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        clients.push_back(fd); // and never read
    }
    // Until memory stops growing.
    qint64 rss = residentKiB();
    for (int still = 0; still < 5;) {
        QThread::msleep(300);
        const qint64 now = residentKiB();
        still = now == rss ? still + 1 : 0;
        rss = now;
    }
    std::printf("300 stalled sessions:\n"
                "  resident memory %lld KiB before the gate, %lld KiB with it, %lld KiB with the "
                "sessions (+%lld KiB)\n"
                "  the gate holds %lld KiB; %d tunnels, %d connections turned away\n",
                before, withGate, rss, rss - withGate, gate.bufferedBytes() / 1024,
                gate.relayedCount(), gate.turnedAwayCount());
    for (int fd : clients)
        ::close(fd);
    camera.kill();
    camera.waitForFinished();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    ::setrlimit(RLIMIT_NOFILE, &files);
    ownerCheck();
    stalledSessions();
    return 0;
}

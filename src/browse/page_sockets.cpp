#include "browse/page_sockets.h"

#include <QList>
#include <QSet>

#include <cstdlib>
#include <mutex>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace framelog::page_sockets {

namespace {

struct Socket {
    int fd = -1;
    ino_t inode = 0;
    int type = 0;
    bool listening = false;
    sockaddr_storage local{};
};

quint16 portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
}

int intOption(int fd, int option)
{
    int value = 0;
    socklen_t size = sizeof value;
    return ::getsockopt(fd, SOL_SOCKET, option, &value, &size) == 0 ? value : -1;
}

// The IPv4 and IPv6 sockets among the process's open files.
QList<Socket> networkSockets()
{
    QList<Socket> sockets;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return sockets;
    const int own = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        struct stat status {};
        if (::fstat(int(fd), &status) != 0 || !S_ISSOCK(status.st_mode))
            continue;
        const int domain = intOption(int(fd), SO_DOMAIN);
        if (domain != AF_INET && domain != AF_INET6)
            continue;
        Socket socket;
        socket.fd = int(fd);
        socket.inode = status.st_ino;
        socket.type = intOption(int(fd), SO_TYPE);
        socket.listening = intOption(int(fd), SO_ACCEPTCONN) == 1;
        socklen_t size = sizeof socket.local;
        if (::getsockname(int(fd), reinterpret_cast<sockaddr *>(&socket.local), &size) != 0)
            continue;
        sockets.append(socket);
    }
    ::closedir(dir);
    return sockets;
}

std::once_flag remembered;
QSet<ino_t> programSockets;

constexpr quint16 kMulticastDnsPort = 5353;

} // namespace

void rememberProgramSockets()
{
    std::call_once(remembered, [] {
        for (const Socket &socket : networkSockets())
            programSockets.insert(socket.inode);
    });
}

Cut cutAll()
{
    const QList<Socket> sockets = networkSockets();
    // Accepted connections share their listener's port.
    QSet<quint16> served;
    for (const Socket &socket : sockets) {
        if (socket.listening)
            served.insert(portOf(socket.local));
    }
    Cut cut;
    for (const Socket &socket : sockets) {
        if (socket.listening || programSockets.contains(socket.inode))
            continue;
        if (socket.type == SOCK_STREAM) {
            if (served.contains(portOf(socket.local)))
                continue;
            // A connect() to no address is TCP's abort: one RST, and the
            // owner's next read fails with ECONNRESET.
            sockaddr unspecified{};
            unspecified.sa_family = AF_UNSPEC;
            if (::connect(socket.fd, &unspecified, sizeof unspecified) == 0)
                ++cut.streams;
        } else if (socket.type == SOCK_DGRAM && portOf(socket.local) != kMulticastDnsPort) {
            // Every later send fails with EPIPE; what arrives is still read,
            // so the owner sees the error when it answers.
            ::shutdown(socket.fd, SHUT_WR);
            ++cut.datagrams;
        }
    }
    return cut;
}

} // namespace framelog::page_sockets

#include "browse/socket_owner.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace framelog {

namespace {

// Both ends as one family: an IPv4 address in IPv6 form (::ffff:a.b.c.d) is
// listed by the kernel under AF_INET when the socket itself is IPv4.
struct Ends {
    int family = AF_UNSPEC;
    TcpEnd local;
    TcpEnd remote;
};

std::optional<Ends> sameFamily(const TcpEnd &local, const TcpEnd &remote)
{
    bool localV4 = false;
    bool remoteV4 = false;
    const quint32 local4 = local.address.toIPv4Address(&localV4);
    const quint32 remote4 = remote.address.toIPv4Address(&remoteV4);
    if (localV4 && remoteV4)
        return Ends{
            AF_INET, {QHostAddress(local4), local.port}, {QHostAddress(remote4), remote.port}};
    if (local.address.protocol() == QAbstractSocket::IPv6Protocol &&
        remote.address.protocol() == QAbstractSocket::IPv6Protocol)
        return Ends{AF_INET6, local, remote};
    return std::nullopt;
}

void copyAddress(const QHostAddress &address, int family, __be32 out[4])
{
    std::memset(out, 0, 16);
    if (family == AF_INET) {
        out[0] = htonl(address.toIPv4Address());
    } else {
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(out, bytes.c, 16);
    }
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// How /proc/net/tcp{,6} writes an address and port: the address's 32-bit
// words as the machine holds them, in hexadecimal, then ':' and the port.
QByteArray procNetEnd(const TcpEnd &end, int family)
{
    __be32 words[4];
    copyAddress(end.address, family, words);
    QByteArray text;
    for (int i = 0; i < (family == AF_INET ? 1 : 4); ++i)
        text += QByteArray::number(quint32(words[i]), 16).rightJustified(8, '0').toUpper();
    return text + ':' + QByteArray::number(end.port, 16).rightJustified(4, '0').toUpper();
}

// `answered` tells whether the kernel named the socket. An error (no such
// socket, or no inet_diag in this kernel: both ENOENT) leaves the question to
// /proc/net.
std::optional<uid_t> askSockDiag(const Ends *ends, bool *answered)
{
    *answered = false;
    const Fd netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (netlink.get() < 0)
        return std::nullopt;

    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST; // one socket, not a dump
    message.request.sdiag_family = quint8(ends->family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0U;
    message.request.id.idiag_sport = htons(ends->local.port);
    message.request.id.idiag_dport = htons(ends->remote.port);
    copyAddress(ends->local.address, ends->family, message.request.id.idiag_src);
    copyAddress(ends->remote.address, ends->family, message.request.id.idiag_dst);
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(netlink.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr *>(&kernel),
                 sizeof kernel) != ssize_t(sizeof message))
        return std::nullopt;

    alignas(nlmsghdr) char answer[4096];
    ssize_t size;
    do {
        size = ::recv(netlink.get(), answer, sizeof answer, 0);
    } while (size < 0 && errno == EINTR);
    if (size < 0)
        return std::nullopt;
    for (auto *header = reinterpret_cast<const nlmsghdr *>(answer); NLMSG_OK(header, size);
         header = NLMSG_NEXT(header, size)) {
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
            header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
            return std::nullopt; // an error: no such socket
        const auto *found = static_cast<const inet_diag_msg *>(NLMSG_DATA(header));
        *answered = true;
        return uid_t(found->idiag_uid);
    }
    return std::nullopt;
}

} // namespace

std::optional<uid_t> tcpSocketOwnerBySockDiag(const TcpEnd &local, const TcpEnd &remote)
{
    const std::optional<Ends> ends = sameFamily(local, remote);
    bool answered = false;
    return ends ? askSockDiag(&*ends, &answered) : std::nullopt;
}

std::optional<uid_t> tcpSocketOwnerByProcNet(const TcpEnd &local, const TcpEnd &remote)
{
    const std::optional<Ends> ends = sameFamily(local, remote);
    if (!ends)
        return std::nullopt;
    QFile table(ends->family == AF_INET ? QStringLiteral("/proc/net/tcp")
                                        : QStringLiteral("/proc/net/tcp6"));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray wantLocal = procNetEnd(ends->local, ends->family);
    const QByteArray wantRemote = procNetEnd(ends->remote, ends->family);
    table.readLine(); // the column names
    // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
    for (QByteArray line = table.readLine(); !line.isEmpty(); line = table.readLine()) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 7 && fields[1] == wantLocal && fields[2] == wantRemote) {
            bool ok = false;
            const uint uid = fields[7].toUInt(&ok);
            return ok ? std::optional<uid_t>(uid_t(uid)) : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<uid_t> tcpSocketOwner(const TcpEnd &local, const TcpEnd &remote)
{
    const std::optional<Ends> ends = sameFamily(local, remote);
    if (!ends)
        return std::nullopt;
    bool answered = false;
    const std::optional<uid_t> uid = askSockDiag(&*ends, &answered);
    return answered ? uid : tcpSocketOwnerByProcNet(local, remote);
}

} // namespace framelog

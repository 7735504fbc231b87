#pragma once

#include <QHostAddress>

#include <optional>

#include <sys/types.h>

namespace framelog {

// One end of a TCP connection on this machine, as the kernel lists it.
struct TcpEnd {
    QHostAddress address;
    quint16 port = 0;
};

// The uid that owns the TCP socket bound to `local` and connected to
// `remote`, as the kernel tells (nothing when no such socket is listed).
// For a connection accepted on loopback, pass the peer's address as `local`
// and the listener's as `remote`: that names the user who connected.
//
// Asks the kernel for that one socket through sock_diag; where netlink is
// refused, reads /proc/net/tcp{,6} (the whole table, so slower).
std::optional<uid_t> tcpSocketOwner(const TcpEnd &local, const TcpEnd &remote);

// The two ways on their own, for tests and measurements.
std::optional<uid_t> tcpSocketOwnerBySockDiag(const TcpEnd &local, const TcpEnd &remote);
std::optional<uid_t> tcpSocketOwnerByProcNet(const TcpEnd &local, const TcpEnd &remote);

} // namespace framelog

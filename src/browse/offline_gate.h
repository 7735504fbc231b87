#pragma once

#include <QObject>
#include <QtGlobal>

#include <memory>

namespace framelog {

// The gate's signals, delivered on the thread that made the gate.
class OfflineGateProbes : public QObject {
    Q_OBJECT
signals:
    // A probe came: as a tunnel through the gate, or straight to it.
    void probeSeen(const QByteArray &token, bool throughGate);
};

// A SOCKS5 proxy inside the program, on 127.0.0.1, which the browser's pages
// use as their proxy while offline (see offline_switch.h). While closed it
// refuses every new connection and cuts the open ones, so the engine can
// answer only from its own cache; while open it relays to the address asked
// for, through the proxy the system names for it, if any (the few requests
// the engine still sends it once back online).
//
// Only the program's own user gets in: a connection whose socket belongs to
// another uid (the kernel tells, socket_owner.h) is closed at once, before a
// byte is read. Sessions, the bytes held for them and the time a tunnel may
// stay silent are limited (Limits).
//
// It also answers the engine's probes: a request for
// http://0.0.0.0:<port>/framelog-probe/<token>, which reaches the gate
// straight (the engine still goes direct) or as a tunnel to 0.0.0.0:<port>
// (the engine now uses the gate as its proxy); `probeSeen` tells which.
//
// It runs on a thread of its own: relaying never waits for the window thread,
// and a busy window never stalls a page's traffic. close() and open() may be
// called from any thread; once close() has returned, no further byte is sent
// to the network.
class OfflineGate {
public:
    struct Limits {
        // Connections being served at once (handshakes and tunnels); more
        // are closed as they come.
        int sessions = 128;
        // A client that has not finished its handshake by then, or an
        // address that does not answer, is given up.
        int handshakeTimeoutMs = 10000;
        int connectTimeoutMs = 60000;
        // A tunnel that carries no byte either way for so long is cut.
        int idleTimeoutMs = 5 * 60 * 1000;
        // Bytes read from one side and not yet taken by the other, all
        // sessions together; past it, reading waits.
        qint64 bufferedBytes = 16 * 1024 * 1024;
    };

    // Starts the thread and listens on a free port of 127.0.0.1.
    explicit OfflineGate(Limits limits);
    OfflineGate() : OfflineGate(Limits()) {}
    // Cuts every connection and stops the thread.
    ~OfflineGate();
    OfflineGate(const OfflineGate &) = delete;
    OfflineGate &operator=(const OfflineGate &) = delete;

    // The gate of the process (the application's proxy is process-wide):
    // made on first use, stopped when the QCoreApplication goes. Needs a
    // QCoreApplication.
    static OfflineGate &instance();
    // Whether instance() has made the gate: a program that never goes
    // offline has none.
    static bool exists();

    bool isListening() const { return port() != 0; }
    // 0 when the gate could not listen.
    quint16 port() const;

    // Closed while at least one holder asks for it: each close() is undone by
    // one open().
    void close();
    void open();
    bool isClosed() const;

    // Connections refused while closed, tunnels opened, connections of other
    // users closed, connections turned away over the session limit, and
    // tunnels cut for silence, so far.
    int refusedCount() const;
    int relayedCount() const;
    int foreignCount() const;
    int turnedAwayCount() const;
    int idleCutCount() const;
    // Bytes read and not yet passed on, now.
    qint64 bufferedBytes() const;

    OfflineGateProbes *probes() const;

    struct State;

private:
    std::unique_ptr<State> d;
};

} // namespace framelog

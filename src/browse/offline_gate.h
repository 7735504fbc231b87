#pragma once

#include <QtGlobal>

#include <memory>

namespace framelog {

// A SOCKS5 proxy inside the program, on 127.0.0.1, through which the browser
// reaches the network. While closed it refuses every new connection and cuts
// the open ones, so the engine can answer only from its own cache; while open
// it relays to the address asked for, through the proxy the system names for
// it, if any.
//
// It runs on a thread of its own: relaying never waits for the window thread,
// and a busy window never stalls a page's traffic. close() and open() may be
// called from any thread; once close() has returned, no further byte is sent
// to the network.
class OfflineGate {
public:
    // Starts the thread and listens on a free port of 127.0.0.1.
    OfflineGate();
    // Cuts every connection and stops the thread.
    ~OfflineGate();
    OfflineGate(const OfflineGate &) = delete;
    OfflineGate &operator=(const OfflineGate &) = delete;

    // The gate of the process (the application's proxy is process-wide):
    // made on first use, stopped when the QCoreApplication goes. Needs a
    // QCoreApplication.
    static OfflineGate &instance();

    bool isListening() const { return port() != 0; }
    // 0 when the gate could not listen.
    quint16 port() const;

    // Closed while at least one holder asks for it: each close() is undone by
    // one open().
    void close();
    void open();
    bool isClosed() const;

    // Connections refused while closed, and tunnels opened, so far.
    int refusedCount() const;
    int relayedCount() const;

    struct State;

private:
    std::unique_ptr<State> d;
};

} // namespace framelog

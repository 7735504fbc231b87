#pragma once

// A service manager of the test's own, for programs that speak systemd's
// notify protocol: it receives their messages on a socket (NOTIFY_SOCKET)
// and, like systemd's WatchdogSec=, counts a firing when no WATCHDOG=1 came
// for a whole period once READY=1 has come.

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace framelog::test {

class FakeServiceManager {
public:
    FakeServiceManager(const QString &path, std::chrono::milliseconds watchdog)
        : m_watchdog(watchdog)
    {
        m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray name = path.toLocal8Bit();
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        m_path = name;
        ::unlink(name.constData());
        m_bound = bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        m_thread = std::thread([this] { listen(); });
    }
    ~FakeServiceManager()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_socket);
        ::unlink(m_path.constData());
    }

    bool bound() const { return m_bound; }
    int firings() const { return m_firings; }
    QList<QByteArray> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    int count(const QByteArray &message) const { return int(messages().count(message)); }

private:
    void listen()
    {
        auto lastPing = std::chrono::steady_clock::now();
        bool armed = false;
        bool fired = false;
        while (!m_stop) {
            pollfd fd{m_socket, POLLIN, 0};
            if (poll(&fd, 1, 20) > 0) {
                char buffer[4096];
                const ssize_t n = recv(m_socket, buffer, sizeof buffer, 0);
                if (n > 0) {
                    const QByteArray message(buffer, n);
                    std::lock_guard lock(m_mutex);
                    m_messages << message;
                    if (message == "READY=1")
                        armed = true;
                    if (message == "WATCHDOG=1" || message == "READY=1") {
                        lastPing = std::chrono::steady_clock::now();
                        fired = false;
                    }
                }
            }
            // Once per silence, as the manager kills once.
            if (armed && !fired && std::chrono::steady_clock::now() - lastPing > m_watchdog) {
                fired = true;
                ++m_firings;
            }
        }
    }

    std::chrono::milliseconds m_watchdog;
    QByteArray m_path;
    int m_socket = -1;
    bool m_bound = false;
    std::atomic<bool> m_stop = false;
    std::atomic<int> m_firings = 0;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_messages;
    std::thread m_thread;
};

} // namespace framelog::test

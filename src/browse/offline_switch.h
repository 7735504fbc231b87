#pragma once

#include "browse/request_rules.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace framelog {

// One browser control's Work Offline, without a start-up flag either way.
//
// Online the engine has no proxy of ours: pages reach the network as in
// Chromium itself (the system's proxy, Chromium's own connection limits,
// WebRTC's UDP).
//
// Going offline:
// - every network request of the control's pages is refused (request_rules)
//   and their WebRTC is told (tellPages: new peer connections refused, open
//   ones closed);
// - if the control has been online (its engine may hold pages in its cache
//   and connections open), the process's offline gate, closed, becomes the
//   application's proxy, and every connection the pages hold is cut
//   (page_sockets: loopback and link-local streams, WebSockets and WebRTC's
//   UDP included);
// - the engine takes a new proxy only when it next looks, at a request: a
//   probe request (a download of http://0.0.0.0:<gate>/framelog-probe/...)
//   makes it look, and the gate tells whether the probe came through it.
//   Once it did, requests the cache can answer go on to the engine (the
//   gate refuses the rest) and only what goes around a proxy is refused.
//
// Back online the application's proxy is restored (when no other control
// holds the gate) and the gate opens, relaying for the program's own user
// the few requests the engine still sends it until it looks again.
//
// The proxy is the process's: while one control is offline behind the gate,
// every control's pages reach the network only through it.
class OfflineSwitch : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // Has the engine request `url` for the control's pages.
        std::function<void(const QUrl &url)> probe;
        // Tells the control's pages whether they are offline.
        std::function<void(bool offline)> tellPages;
    };

    explicit OfflineSwitch(Hooks hooks, QObject *parent = nullptr);
    // Online again first: the gate is the process's.
    ~OfflineSwitch() override;

    void setOffline(bool offline);
    bool isOffline() const { return m_offline; }
    OfflineState state() const { return m_state; }
    // A page starts loading while online.
    void noteOnlineUse();
    // Whether `url` is this control's probe, let through while offline.
    bool isProbe(const QUrl &url) const;

    // Whether the engine takes the application's proxy: not when it was
    // given one of its own on its command line.
    static bool engineTakesApplicationProxy();

    // A probe that does not come through the gate is sent again, at most
    // this often in all; one that does not come at all, after this long.
    static constexpr int kMaxProbes = 20;
    static constexpr int kProbeRetryMs = 2000;

signals:
    void stateChanged(framelog::OfflineState state);

private:
    void probe();
    void probeSeen(const QByteArray &token, bool throughGate);
    void holdGate();
    void releaseGate();
    void setState(OfflineState state);

    Hooks m_hooks;
    bool m_offline = false;
    bool m_usedOnline = false;
    bool m_holdsGate = false;
    OfflineState m_state = OfflineState::Online;
    QByteArray m_token;
    int m_probes = 0;
    QTimer m_retry;
    QMetaObject::Connection m_probesSeen;
};

} // namespace framelog

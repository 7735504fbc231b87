#pragma once

#include <QRect>
#include <QUrl>

namespace framelog {

enum class OfflineState {
    Online,
    // Offline, and the engine is known to send its requests to the closed
    // offline gate: only what goes around a proxy (loopback, link-local and
    // unspecified addresses) and WebSockets are refused here, so that the
    // engine's cache can still answer the rest.
    OfflineBehindGate,
    // Offline with no gate, or before the engine has taken the gate as its
    // proxy: every network request is refused here.
    Offline,
};

// Whether the browser refuses a request for `url` while in `offline`: a
// request that would reach a network host the gate does not stand in front
// of. Local files follow Chromium's own rules and are never refused here.
bool refuseWhileOffline(const QUrl &url, OfflineState offline);

// A network address that the engine never sends through a proxy (loopback,
// link-local, a host name without a dot), or that names this machine itself
// (0.0.0.0, ::).
bool bypassesProxy(const QUrl &url);

// Where a window asked for at `wanted` goes on a screen whose free area is
// `available`: as large as asked but no larger than that area, and moved
// inside it.
QRect keepOnScreen(const QRect &wanted, const QRect &available);

} // namespace framelog

#pragma once

#include <QRect>
#include <QUrl>

namespace framelog {

// What the browser knows of one request when it decides whether to let it go.
struct RequestFacts {
    QUrl url;
    // The address of the top page the request is made for.
    QUrl firstParty;
    // The request loads a page into a window (not a frame, picture, script...).
    bool mainFrame = false;
    // A page script reads the address (fetch or XMLHttpRequest).
    bool scriptRead = false;
    // A page's script or link asked for a main-frame navigation (the user did
    // not type, reload or step through the history).
    bool pageInitiated = false;
    // The page the window shows before this navigation; for a new popup, the
    // page that opened it.
    QUrl windowPage;
};

enum class OfflineState {
    Online,
    // Offline, and the offline gate stands between the engine and the
    // network: only what goes around the gate (loopback and link-local
    // addresses) and WebSockets are refused here.
    OfflineBehindGate,
    // Offline with no gate: every network request is refused here.
    Offline,
};

// Whether the browser refuses the request:
// - while offline, a request that would reach a network host that the gate
//   does not stand in front of;
// - always, a local file that a page reads and that was not loaded as part of
//   it: a script's read of a file, a frame, picture or script outside the
//   top page's folder, and a page-made navigation of a window to a file
//   outside the folder of the page it shows (another page of the same origin
//   could script it). Folders and files are compared after links are
//   resolved.
bool refuseRequest(const RequestFacts &request, OfflineState offline);
// The first part alone, for requests that no page makes (a service worker's).
bool refuseWhileOffline(const QUrl &url, OfflineState offline);

// A network address that Chromium never sends through a proxy.
bool bypassesProxy(const QUrl &url);

// Where a window asked for at `wanted` goes on a screen whose free area is
// `available`: as large as asked but no larger than that area, and moved
// inside it.
QRect keepOnScreen(const QRect &wanted, const QRect &available);

} // namespace framelog

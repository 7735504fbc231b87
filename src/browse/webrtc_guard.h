#pragma once

#include <QString>

namespace framelog {

// A page's WebRTC while offline (resources/webrtc_guard.js): the script each
// frame runs in its own world before the page's scripts, refusing new peer
// connections while offline, and the one that tells a document that exists
// already (run in a world of our own in the top frame, which passes it on to
// its frames). The secret that keeps pages from speaking for the browser is
// made once per process.
QString webRtcGuardScript(bool offline);
QString webRtcGuardSwitch(bool offline);

} // namespace framelog

#pragma once

namespace framelog {

// The network sockets of the process's pages. Chromium's network service
// runs inside this process, so every connection a page holds (streams to
// loopback and link-local hosts, WebSockets, WebRTC's UDP, idle ones kept
// for later) is a socket of ours, which the kernel lists in /proc/self/fd.
namespace page_sockets {

// Takes the network sockets open now as the program's own (a display
// reached over TCP, say): they are never cut. Call once, before the first
// page; later calls do nothing.
void rememberProgramSockets();

struct Cut {
    int streams = 0;   // TCP connections reset
    int datagrams = 0; // UDP sockets that may send no more
};

// Ends every page connection at once: a TCP connection is reset (one RST,
// nothing more is sent or received on it) and a UDP socket can send no
// more. The engine sees the errors a network that went away gives and
// closes them. Never cut: listening sockets, the server side of connections
// accepted by a listener of this process (the offline gate's), the
// program's own sockets, and the engine's mDNS responder (UDP port 5353),
// which cannot start anew on other sockets: cut, WebRTC could not resolve
// its own host names for the rest of the run. It carries no page data; it
// answers the local link's questions for the names of the pages' peer
// connections, which are closed at the same time.
Cut cutAll();

} // namespace page_sockets

} // namespace framelog

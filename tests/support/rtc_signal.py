#!/usr/bin/env python3
"""WebRTC on the LAN for tests: a camera page and its answerer, and the
signalling between them.

rtc_signal.py ADDRESS

Listens on ADDRESS and prints one line of JSON: {"port": P}.

  /camera.html    the page under test: offers to receive the answerer's
                  video and to send its own canvas; shows what it receives
                  full size (green), title "playing" once it plays
  /answerer.html  the separate answerer (another browser process): answers,
                  sends a green canvas, and reports how many packets of the
                  camera page's video it has received (/stats)
  /offer /answer  the descriptions, POSTed whole (no trickle) and polled
  /stats          the answerer's last report: {"packets": N, "state": "..."}
"""
import json
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

lock = threading.Lock()
store = {"offer": None, "answer": None, "stats": {"packets": 0, "state": "new"}}

COMMON = """
const post = (path, body) => fetch(path, {method: 'POST', body: JSON.stringify(body)});
const poll = async (path) => {
  for (;;) {
    const reply = await (await fetch(path, {cache: 'no-store'})).json();
    if (reply) return reply;
    await new Promise(r => setTimeout(r, 100));
  }
};
const gathered = (pc) => new Promise(r => {
  if (pc.iceGatheringState === 'complete') return r();
  pc.addEventListener('icegatheringstatechange', () => {
    if (pc.iceGatheringState === 'complete') r();
  });
});
const canvasTrack = (colour) => {
  const c = document.createElement('canvas');
  c.width = 160; c.height = 120;
  c.style = 'position:absolute;left:-1000px';
  document.body.appendChild(c);
  const g = c.getContext('2d');
  let n = 0;
  setInterval(() => { g.fillStyle = colour; g.fillRect(0, 0, 160, 120);
                      g.fillStyle = colour; g.fillRect(n++ % 160, 0, 1, 1); }, 40);
  return c.captureStream(25).getVideoTracks()[0];
};
"""

CAMERA = """<!doctype html><html><head><title>camera</title><style>
html,body{margin:0;background:#000;overflow:hidden}
video{position:absolute;left:0;top:0;width:100vw;height:100vh;object-fit:fill}
</style></head><body><video id=v autoplay muted playsinline></video><script>
""" + COMMON + """
(async () => {
  const pc = new RTCPeerConnection();
  window.pc = pc;
  pc.addTransceiver(canvasTrack('#f00'), {direction: 'sendrecv'});
  pc.ontrack = (e) => { document.getElementById('v').srcObject = new MediaStream([e.track]); };
  await pc.setLocalDescription(await pc.createOffer());
  await gathered(pc);
  await post('/offer', pc.localDescription);
  await pc.setRemoteDescription(await poll('/answer'));
})();
const v = document.getElementById('v');
setInterval(() => {
  if (v.videoWidth > 0 && v.currentTime > 1) document.title = 'playing';
}, 100);
</script></body></html>"""

ANSWERER = """<!doctype html><html><head><title>answerer</title></head><body><script>
""" + COMMON + """
(async () => {
  const pc = new RTCPeerConnection();
  window.pc = pc;
  await pc.setRemoteDescription(await poll('/offer'));
  const transceiver = pc.getTransceivers()[0];
  transceiver.direction = 'sendrecv';
  await transceiver.sender.replaceTrack(canvasTrack('#0f0'));
  await pc.setLocalDescription(await pc.createAnswer());
  await gathered(pc);
  await post('/answer', pc.localDescription);
  setInterval(async () => {
    let packets = 0;
    (await pc.getStats()).forEach(s => { if (s.type === 'inbound-rtp') packets += s.packetsReceived; });
    post('/stats', {packets, state: pc.iceConnectionState});
  }, 100);
})();
</script></body></html>"""


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, body, kind="application/json"):
        body = body.encode()
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?")[0]
        if path == "/camera.html":
            self.reply(CAMERA, "text/html")
        elif path == "/answerer.html":
            self.reply(ANSWERER, "text/html")
        elif path in ("/offer", "/answer", "/stats"):
            with lock:
                self.reply(json.dumps(store[path[1:]]))
        else:
            self.send_error(404)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with lock:
            store[self.path[1:]] = json.loads(body)
        self.reply("null")


def main():
    address = sys.argv[1]
    if ":" in address:
        ThreadingHTTPServer.address_family = __import__("socket").AF_INET6
    server = ThreadingHTTPServer((address, 0), Handler)
    server.daemon_threads = True
    print(json.dumps({"port": server.server_address[1]}), flush=True)
    server.serve_forever()


main()

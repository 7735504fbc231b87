#!/usr/bin/env python3
"""A camera's streams for tests: MJPEG, server-sent events and a WebSocket.

stream_server.py ADDRESS [EXTRA_PORTS]

Listens on ADDRESS (a free port, and EXTRA_PORTS more for pages that open
many streams) and prints one line of JSON: {"port": P, "extra": [...]}.

  /streams.html   a page holding an MJPEG picture, an event stream and a
                  WebSocket that sends a message every 50 ms
  /many.html?n=N  a page with an event stream to each of N extra ports,
                  then one more request (/late) once they are all open
  /mjpeg /sse /ws /late

Reads commands on standard input, one a line: "mark" starts counting anew,
"report" prints what came since the mark as JSON: new connections, bytes
the pages sent on open streams (WebSocket messages), streams open now.
"""
import base64
import hashlib
import json
import socketserver
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

# A 1x1 grey JPEG.
FRAME = base64.b64decode(
    "/9j/4AAQSkZJRgABAQEAZABkAAD/2wBDABALDA4MChAODQ4SERATGCgaGBYWGDEjJR0oOjM9PDkz"
    "ODdASFxOQERXRTc4UG1RV19iZ2hnPk1xeXBkeFxlZ2P/2wBDARESEhgVGC8aGi9jQjhCY2NjY2Nj"
    "Y2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2P/wAARCAABAAEDASIA"
    "AhEBAxEB/8QAHwAAAQUBAQEBAQEAAAAAAAAAAAECAwQFBgcICQoL/8QAtRAAAgEDAwIEAwUFBAQA"
    "AAF9AQIDAAQRBRIhMUEGE1FhByJxFDKBkaEII0KxwRVS0fAkM2JyggkKFhcYGRolJicoKSo0NTY3"
    "ODk6Q0RFRkdISUpTVFVWV1hZWmNkZWZnaGlqc3R1dnd4eXqDhIWGh4iJipKTlJWWl5iZmqKjpKWm"
    "p6ipqrKztLW2t7i5usLDxMXGx8jJytLT1NXW19jZ2uHi4+Tl5ufo6erx8vP09fb3+Pn6/8QAHwEA"
    "AwEBAQEBAQEBAQAAAAAAAAECAwQFBgcICQoL/8QAtREAAgECBAQDBAcFBAQAAQJ3AAECAxEEBSEx"
    "BhJBUQdhcRMiMoEIFEKRobHBCSMzUvAVYnLRChYkNOEl8RcYGRomJygpKjU2Nzg5OkNERUZHSElK"
    "U1RVVldYWVpjZGVmZ2hpanN0dXZ3eHl6goOEhYaHiImKkpOUlZaXmJmaoqOkpaanqKmqsrO0tba3"
    "uLm6wsPExcbHyMnK0tPU1dbX2Nna4uPk5ebn6Onq8vP09fb3+Pn6/9oADAMBAAIRAxEAPwDQooop"
    "gf/Z")
PERIOD = 0.05

lock = threading.Lock()
counts = {"connections": 0, "bytes_in": 0, "open": 0}


def count(name, amount=1):
    with lock:
        counts[name] += amount


STREAMS_PAGE = """<!doctype html><html><head><title>streams</title></head><body>
<img id=mjpeg src="/mjpeg" width=10 height=10>
<script>
window.seen = {sse: 0, ws: 0};
const events = new EventSource('/sse');
events.onmessage = () => seen.sse++;
const ws = new WebSocket('ws://' + location.host + '/ws');
ws.onmessage = () => seen.ws++;
ws.onopen = () => setInterval(() => { if (ws.readyState === 1) ws.send('tick'); }, 50);
</script></body></html>"""

MANY_PAGE = """<!doctype html><html><head><title>0 open</title></head><body><script>
const ports = %s;
let open = 0;
for (const port of ports) {
  const events = new EventSource('http://' + location.hostname + ':' + port + '/sse');
  let counted = false;
  events.onmessage = () => {
    if (counted) return;
    counted = true;
    document.title = ++open + ' open';
    if (open === ports.length)
      fetch('/late').then(r => r.text()).then(t => document.title = open + ' open, late ' + t, e => document.title = 'late failed ' + e);
  };
}
</script></body></html>"""


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_page(self, body, kind="text/html"):
        body = body.encode()
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Access-Control-Allow-Origin", "*")
        self.end_headers()
        self.wfile.write(body)

    def stream(self, kind, piece):
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Cache-Control", "no-store")
        self.send_header("Access-Control-Allow-Origin", "*")
        self.send_header("Connection", "close")
        self.end_headers()
        count("open")
        try:
            n = 0
            while True:
                self.wfile.write(piece(n))
                self.wfile.flush()
                n += 1
                time.sleep(PERIOD)
        except OSError:
            pass
        finally:
            count("open", -1)
            self.close_connection = True

    def do_GET(self):
        count("connections")
        path = self.path.split("?")[0]
        if path == "/streams.html":
            self.send_page(STREAMS_PAGE)
        elif path == "/many.html":
            n = int(self.path.split("n=")[1]) if "n=" in self.path else len(self.server.extra)
            self.send_page(MANY_PAGE % json.dumps(self.server.extra[:n]))
        elif path == "/late":
            self.send_page("done", "text/plain")
        elif path == "/mjpeg":
            self.stream("multipart/x-mixed-replace; boundary=frame",
                        lambda n: b"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: "
                        + str(len(FRAME)).encode() + b"\r\n\r\n" + FRAME + b"\r\n")
        elif path == "/sse":
            self.stream("text/event-stream",
                        lambda n: ("retry: 200\ndata: %d\n\n" % n).encode())
        elif path == "/ws":
            self.websocket()
        else:
            self.send_error(404)

    def websocket(self):
        key = self.headers.get("Sec-WebSocket-Key", "")
        accept = base64.b64encode(hashlib.sha1(
            (key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest()).decode()
        self.send_response(101)
        self.send_header("Upgrade", "websocket")
        self.send_header("Connection", "Upgrade")
        self.send_header("Sec-WebSocket-Accept", accept)
        self.end_headers()
        self.wfile.flush()
        count("open")
        reader = threading.Thread(target=self.read_frames, daemon=True)
        reader.start()
        try:
            while reader.is_alive():
                self.wfile.write(b"\x81\x04tock")
                self.wfile.flush()
                time.sleep(PERIOD)
        except OSError:
            pass
        finally:
            count("open", -1)
            self.close_connection = True

    def read_frames(self):
        try:
            while True:
                head = self.rfile.read(2)
                if len(head) < 2:
                    return
                size = head[1] & 0x7F
                if size == 126:
                    size = struct.unpack(">H", self.rfile.read(2))[0]
                elif size == 127:
                    size = struct.unpack(">Q", self.rfile.read(8))[0]
                body = self.rfile.read(4 + size)  # the mask, then the data
                if len(body) < 4 + size or head[0] & 0x0F == 8:
                    return
                count("bytes_in", 2 + len(body))
        except OSError:
            return


class Server(ThreadingHTTPServer):
    daemon_threads = True
    extra = []


def main():
    address = sys.argv[1]
    extra_ports = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    socketserver.TCPServer.address_family = (
        __import__("socket").AF_INET6 if ":" in address else __import__("socket").AF_INET)
    main_server = Server((address, 0), Handler)
    extras = [Server((address, 0), Handler) for _ in range(extra_ports)]
    ports = [s.server_address[1] for s in extras]
    for server in [main_server] + extras:
        server.extra = ports
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print(json.dumps({"port": main_server.server_address[1], "extra": ports}), flush=True)
    for line in sys.stdin:
        command = line.strip()
        with lock:
            if command == "mark":
                counts["connections"] = 0
                counts["bytes_in"] = 0
            elif command == "report":
                print(json.dumps(counts), flush=True)


main()

#!/usr/bin/env python3
"""A small web server that behaves like the cameras Framelog records.

Pages:
  /            a live page, open to all
  /basic       behind HTTP Basic authentication (realm "camera")
  /digest      behind HTTP Digest authentication (MD5, qop=auth, realm "camera")
  /session     behind a form login: without the session cookie it sends the
               browser to /login, whose form sets the cookie (no expiry: a
               session cookie, as cameras use)
Options:
  --user/--password   the one account (default cam / secret)
  --self-signed DIR   serve HTTPS with a new self-signed certificate made in
                      DIR by openssl; prints "FINGERPRINT <sha256 hex>"
  --port N            listen on N (default: any free port)
  --listen-after S    stay away (connections refused) for S seconds first
  --fail-for S        answer every page 503 for S seconds after listening
Prints "READY <port>" once it listens, then one "REQUEST <method> <path>
<cookie>" line per request, flushed.
"""
import argparse
import base64
import hashlib
import http.server
import os
import secrets
import ssl
import subprocess
import sys
import time

ARGS = None
SESSION = secrets.token_hex(16)
NONCE = secrets.token_hex(16)
STARTED = 0.0


def page(title, colour, body=""):
    return (f"<!doctype html><html><head><meta charset=utf-8><title>{title}</title>"
            f"<style>html,body{{margin:0;height:100%;background:{colour}}}</style></head>"
            f"<body>{body}</body></html>").encode()


def digest_fields(header):
    fields = {}
    for part in header[len("Digest "):].split(","):
        key, _, value = part.strip().partition("=")
        fields[key] = value.strip('"')
    return fields


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_page(self, status, body, headers=()):
        self.send_response(status)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def authorised_basic(self):
        expected = base64.b64encode(f"{ARGS.user}:{ARGS.password}".encode()).decode()
        return self.headers.get("Authorization", "") == "Basic " + expected

    def authorised_digest(self):
        header = self.headers.get("Authorization", "")
        if not header.startswith("Digest "):
            return False
        f = digest_fields(header)
        if f.get("username") != ARGS.user or f.get("nonce") != NONCE:
            return False
        ha1 = md5(f"{ARGS.user}:camera:{ARGS.password}")
        ha2 = md5(f"{self.command}:{f.get('uri', '')}")
        expected = md5(f"{ha1}:{NONCE}:{f.get('nc', '')}:{f.get('cnonce', '')}:"
                       f"{f.get('qop', '')}:{ha2}")
        return f.get("response") == expected

    def has_session(self):
        return f"session={SESSION}" in self.headers.get("Cookie", "")

    def do_GET(self):
        print(f"REQUEST {self.command} {self.path} {self.headers.get('Cookie', '-')}",
              flush=True)
        path = self.path.split("?")[0]
        if ARGS.fail_for and time.monotonic() - STARTED < ARGS.fail_for:
            self.send_page(503, page("Camera resting", "#808080", "503 Service Unavailable"))
        elif path == "/":
            self.send_page(200, page("Camera", "#00ff00"))
        elif path == "/basic":
            if self.authorised_basic():
                self.send_page(200, page("Camera basic", "#0000ff"))
            else:
                self.send_page(401, page("Login refused", "#ff0000", "401 no entry"),
                               [("WWW-Authenticate", 'Basic realm="camera"')])
        elif path == "/digest":
            if self.authorised_digest():
                self.send_page(200, page("Camera digest", "#0000ff"))
            else:
                challenge = (f'Digest realm="camera", qop="auth", nonce="{NONCE}", '
                             f'opaque="{secrets.token_hex(8)}", algorithm=MD5')
                self.send_page(401, page("Login refused", "#ff0000", "401 no entry"),
                               [("WWW-Authenticate", challenge)])
        elif path == "/session":
            if self.has_session():
                self.send_page(200, page("Camera live", "#ffff00"))
            else:
                self.send_page(302, b"", [("Location", "/login")])
        elif path == "/login":
            form = ('<form method=post action=/login>'
                    '<input name=user id=user><input name=password id=password type=password>'
                    '<button id=go>Log in</button></form>')
            self.send_page(200, page("Log in", "#ffffff", form))
        else:
            self.send_page(404, page("Not found", "#000000"))

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        fields = dict(part.split("=", 1) for part in
                      self.rfile.read(length).decode().split("&") if "=" in part)
        print(f"REQUEST {self.command} {self.path} -", flush=True)
        if fields.get("user") == ARGS.user and fields.get("password") == ARGS.password:
            self.send_page(302, b"", [("Location", "/session"),
                                      ("Set-Cookie", f"session={SESSION}; Path=/; HttpOnly")])
        else:
            self.send_page(403, page("Login refused", "#ff0000"))


def self_signed(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-keyout", key, "-out", cert, "-subj", "/CN=localhost/O=Test camera",
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(cert) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    print("FINGERPRINT " + hashlib.sha256(der).hexdigest(), flush=True)
    return cert, key


def main():
    global ARGS, STARTED
    parser = argparse.ArgumentParser()
    parser.add_argument("--user", default="cam")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--self-signed")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--listen-after", type=float, default=0)
    parser.add_argument("--fail-for", type=float, default=0)
    ARGS = parser.parse_args()
    tls = self_signed(ARGS.self_signed) if ARGS.self_signed else None
    time.sleep(ARGS.listen_after)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", ARGS.port), Handler)
    if tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    STARTED = time.monotonic()
    print(f"READY {server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())

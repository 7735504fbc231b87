#!/usr/bin/env python3
"""A SOCKS5 client for tests, run as whichever user the test chooses.

socks_client.py GATE_PORT HOST PORT [PAYLOAD]: connects to the gate on
127.0.0.1, asks for HOST:PORT, sends PAYLOAD through the tunnel and prints
one line: the gate's reply code (or "closed" when it hung up first) and the
bytes that came back (as many as were sent, or fewer and an end),
hex-encoded.
"""
import socket
import sys


def main():
    gate, host, port = int(sys.argv[1]), sys.argv[2].encode(), int(sys.argv[3])
    payload = sys.argv[4].encode() if len(sys.argv) > 4 else b""
    s = socket.create_connection(("127.0.0.1", gate), timeout=10)
    try:
        s.sendall(b"\x05\x01\x00" + b"\x05\x01\x00\x03" + bytes([len(host)]) + host
                  + port.to_bytes(2, "big"))
        answer = b""
        while len(answer) < 12:
            chunk = s.recv(12 - len(answer))
            if not chunk:
                break
            answer += chunk
        if len(answer) < 12:
            print("closed")
            return
        s.sendall(payload)
        received = b""
        try:
            while len(received) < len(payload):  # an echo, or less and an end
                chunk = s.recv(4096)
                if not chunk:
                    break
                received += chunk
        except (ConnectionResetError, socket.timeout):
            pass
        print(answer[3], received.hex())
    except (ConnectionResetError, BrokenPipeError, socket.timeout):
        print("closed")


main()

#!/usr/bin/env python3
"""Printer stand-ins for the status tests, on 127.0.0.1.

    status_peer.py MODE:HEX ...

For each MODE:HEX, listens on a port of its own, prints it (one line per
argument, in order) and serves connections one after the other until its
standard input closes. Each real-time status request DLE EOT n (bytes 10 04
n, n = 1 to 4) is answered with byte n-1 of HEX:

    answer     as a printer would
    silent     reads the requests, answers nothing
    late       answers each request 0.6 s after it came
    unrelated  first sends bytes that are no status answer, then answers
    lookalike  first sends bytes that look like answers, then answers
    double     answers each request with its byte and a second one
    close      closes each connection at once

Whatever HEX holds goes out as it is; the test decides what it means.
"""
import socket
import sys
import threading
import time


def serve(conn, mode, answers):
    if mode == "close":
        return
    if mode == "unrelated":
        # Text, NUL, 0xFF and automatic-status-back-like bytes: none has bits
        # 1 and 4 set with bits 0 and 7 clear.
        conn.sendall(b"HELLO\r\n\x00\xff\x10\x00\x00\x0f")
    if mode == "lookalike":
        conn.sendall(b"\x12\x12\x12\x12")
    pending = b""
    while True:
        data = conn.recv(64)
        if not data:
            return
        pending += data
        while True:
            at = pending.find(b"\x10\x04")
            if at < 0 or at + 2 >= len(pending):
                pending = pending[at:] if at >= 0 else b""
                break
            n = pending[at + 2]
            pending = pending[at + 3:]
            if not 1 <= n <= 4 or mode == "silent":
                continue
            reply = answers[n - 1:n]
            if mode == "late":
                time.sleep(0.6)
            if mode == "double":
                reply += b"\x12"
            conn.sendall(reply)


def listen(server, mode, answers):
    while True:
        conn, _ = server.accept()
        conn.settimeout(5)
        try:
            serve(conn, mode, answers)
        except (socket.timeout, ConnectionError):
            pass
        conn.close()


for plan in sys.argv[1:]:
    mode, _, hex_answers = plan.partition(":")
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    print(server.getsockname()[1], flush=True)
    threading.Thread(target=listen, args=(server, mode, bytes.fromhex(hex_answers)),
                     daemon=True).start()
sys.stdin.read()

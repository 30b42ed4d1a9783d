#!/usr/bin/env python3
"""Slow printers for the fleet benchmark: N listeners on 127.0.0.1, each
reading a job to its end and closing its side HOLD seconds later, as a
printer that takes a moment to confirm. Prints the ports on one line, then
serves until it is stopped.

    printers.py N HOLD
"""
import socket
import sys
import threading
import time


def serve(conn, hold):
    with conn:
        while conn.recv(65536):
            pass
        time.sleep(hold)


def accept(listener, hold):
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, hold), daemon=True).start()


def main():
    count, hold = int(sys.argv[1]), float(sys.argv[2])
    listeners = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        s.listen(16)
        listeners.append(s)
        threading.Thread(target=accept, args=(s, hold), daemon=True).start()
    print(" ".join(str(s.getsockname()[1]) for s in listeners), flush=True)
    threading.Event().wait()


if __name__ == "__main__":
    main()

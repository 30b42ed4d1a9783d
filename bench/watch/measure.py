#!/usr/bin/env python3
"""krv520-cli watch over many printers on loopback for a while: a fifth of
them listeners that answer the status requests as a ready printer, the rest
refused ports on other 127.x addresses. Samples the watch's memory and open
files twice a second and prints

    result watch targets=N seconds=S jobs=J peak_rss_kb=.. first_rss_kb=..
        last_rss_kb=.. max_fds=.. base_fds=.. lines=.. exit=..

(first and last: the mean of ten seconds after the start-up and of the
last ten seconds).

    measure.py KRV520_CLI [TARGETS [SECONDS [INTERVAL [JOBS]]]]
"""
import os
import selectors
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


def serve(listeners):
    """Answers each status request (DLE EOT n) with a ready printer's byte."""
    sel = selectors.DefaultSelector()
    for s in listeners:
        s.setblocking(False)
        sel.register(s, selectors.EVENT_READ, None)
    while True:
        for key, _ in sel.select():
            if key.data is None:
                try:
                    conn, _ = key.fileobj.accept()
                except OSError:
                    continue
                conn.setblocking(False)
                sel.register(conn, selectors.EVENT_READ, b"")
                continue
            conn = key.fileobj
            try:
                data = conn.recv(4096)
            except OSError:
                data = b""
            if not data:
                sel.unregister(conn)
                conn.close()
                continue
            pending = key.data + data
            while len(pending) >= 3 and pending[:2] == b"\x10\x04":
                conn.send(b"\x12")
                pending = pending[3:]
            sel.modify(conn, selectors.EVENT_READ, pending[-2:] if pending else b"")


def status_of(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def main():
    cli = sys.argv[1]
    targets = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 60
    interval = sys.argv[4] if len(sys.argv) > 4 else "5"
    jobs = sys.argv[5] if len(sys.argv) > 5 else "32"
    answering = max(1, targets // 5)
    listeners = []
    for _ in range(answering):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        s.listen(64)
        listeners.append(s)
    threading.Thread(target=serve, args=(listeners,), daemon=True).start()
    lines = ["tcp 127.0.0.1:%d" % s.getsockname()[1] for s in listeners]
    # Nothing listens on port 9 of these addresses: refused at once.
    lines += ["tcp 127.0.%d.%d:9" % (2 + i // 250, 1 + i % 250)
              for i in range(targets - answering)]
    with tempfile.NamedTemporaryFile("w", suffix=".targets", delete=False) as f:
        f.write("\n".join(lines) + "\n")
    out = tempfile.TemporaryFile()
    watch = subprocess.Popen([cli, "watch", "--interval", interval, "--jobs", jobs,
                              "--targets", f.name], stdout=out, stderr=subprocess.DEVNULL)
    samples = []
    start = time.monotonic()
    try:
        while time.monotonic() - start < seconds and watch.poll() is None:
            rss = status_of(watch.pid, "VmRSS")
            fds = len(os.listdir("/proc/%d/fd" % watch.pid))
            samples.append((time.monotonic() - start, rss, fds))
            time.sleep(0.5)
        peak = status_of(watch.pid, "VmHWM")
    finally:
        watch.send_signal(signal.SIGTERM)
        code = watch.wait(30)
        os.unlink(f.name)
    # The first second or two is the program loading, not the watch.
    settle = min(2.0, seconds / 4)
    window = min(10.0, seconds / 3)
    first = [r for t, r, _ in samples if settle <= t < settle + window]
    last = [r for t, r, _ in samples if t >= samples[-1][0] - window]
    out.seek(0)
    print("result watch targets=%d seconds=%g jobs=%s peak_rss_kb=%d first_rss_kb=%d "
          "last_rss_kb=%d max_fds=%d base_fds=%d lines=%d exit=%d"
          % (targets, seconds, jobs, peak, sum(first) / len(first), sum(last) / len(last),
             max(n for _, _, n in samples), min(n for _, _, n in samples),
             len(out.read().splitlines()), code))
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

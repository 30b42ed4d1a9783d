#!/usr/bin/env python3
"""krv520-cli serving many printers: real listeners on 127.0.0.1 stand in
for the printers; each records what it received and when it was connected.

    fleet_test.py PATH_TO_KRV520_CLI
"""
import json
import os
import resource
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

CLI = None
# What "--set cmbSpeed=1 --set cmbBuffer=2" sends: ESC GS token LF NUL each.
BATCH = b"".join(b"\x1b\x1d" + t + b"\n\x00" for t in (b"#-20030", b"#+B0100", b"#W00000"))
CHOICES = ["--set", "cmbSpeed=1", "--set", "cmbBuffer=2"]


def strip_status_requests(data):
    """The job alone, without the status requests that followed it."""
    while data[-3:-1] == b"\x10\x04" and 1 <= data[-1] <= 4:
        data = data[:-3]
    return data


class Printer:
    """A listener that reads each job to its end, then closes its side
    `hold` seconds later; or, with `reset_after`, resets the connection once
    that many bytes have come. Counts connections open at once."""

    def __init__(self, hold=0.0, reset_after=None, listening=True):
        self.hold, self.reset_after = hold, reset_after
        self.jobs, self.open_now, self.most_open = [], 0, 0
        self.lock = threading.Lock()
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.stopped = False
        if listening:
            self.listen()

    def listen(self):
        self.sock.listen(64)
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with self.lock:
                self.open_now += 1
                self.most_open = max(self.most_open, self.open_now)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        data = b""
        try:
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                data += chunk
                # Asked how it is after the job: ready.
                if data[-3:-1] == b"\x10\x04" and 1 <= data[-1] <= 4:
                    conn.sendall(b"\x12")
                if self.reset_after is not None and len(data) >= self.reset_after:
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
                    break
            time.sleep(self.hold)
        finally:
            with self.lock:
                self.open_now -= 1
                self.jobs.append(strip_status_requests(data))
            conn.close()

    def close(self):
        self.sock.close()


def run_cli(args, **kwargs):
    return subprocess.run([CLI] + args, capture_output=True, text=True, timeout=120, **kwargs)


class FleetTest(unittest.TestCase):
    def setUp(self):
        self.printers = []
        self.dir = tempfile.TemporaryDirectory()
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.dir.name)

    def tearDown(self):
        for p in self.printers:
            p.close()
        self.dir.cleanup()

    def printer(self, **kwargs):
        p = Printer(**kwargs)
        self.printers.append(p)
        return p

    def test_fifty_slow_printers_at_once_in_target_order(self):
        printers = [self.printer(hold=1.0) for _ in range(50)]
        args = ["download"] + CHOICES + ["--jobs", "50"]
        for p in printers:
            args += ["--tcp", f"127.0.0.1:{p.port}"]
        start = time.monotonic()
        r = run_cli(args, env=self.env)
        elapsed = time.monotonic() - start
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertLess(elapsed, 2.5)
        self.assertEqual(r.stdout.splitlines(),
                         [f"ok\ttcp 127.0.0.1:{p.port}\tsent {len(BATCH)} bytes\tready\tready"
                          for p in printers])
        self.assertEqual(r.stderr, "50 ok, 0 failed\n")
        for p in printers:
            self.assertEqual(p.jobs, [BATCH])

    def test_never_more_connections_than_jobs(self):
        printers = [self.printer(hold=0.3) for _ in range(24)]
        proc = subprocess.Popen([CLI, "download"] + CHOICES + ["--jobs", "6"] +
                                [a for p in printers for a in ("--tcp", f"127.0.0.1:{p.port}")],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env)
        most = 0
        while proc.poll() is None:
            most = max(most, count_sockets(proc.pid))
            time.sleep(0.002)
        self.assertEqual(proc.returncode, 0)
        # Held 0.3 s each, the connections overlap, up to the bound.
        self.assertLessEqual(most, 6)
        self.assertGreater(most, 1)

    def test_same_printer_never_twice_at_once(self):
        shared = self.printer(hold=0.3)
        other = self.printer(hold=0.3)
        # The same address however it is spelled.
        spellings = ["127.0.0.1", "127.0.0.1", "127.1", "127.000.000.001", "0x7f.0.0.1",
                     "2130706433", "[::ffff:127.0.0.1]"]
        args = ["download"] + CHOICES + ["--jobs", "8", "--tcp", f"127.0.0.1:{other.port}"]
        for host in spellings:
            args += ["--tcp", f"{host}:{shared.port}"]
        r = run_cli(args, env=self.env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(shared.jobs, [BATCH] * len(spellings))
        self.assertEqual(shared.most_open, 1)

    def test_out_of_open_files_is_said_once_as_ours(self):
        printers = [self.printer(hold=0.5) for _ in range(40)]
        limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24))
        r = run_cli(["download"] + CHOICES + ["--jobs", "40"] +
                    [a for p in printers for a in ("--tcp", f"127.0.0.1:{p.port}")],
                    env=self.env, preexec_fn=limit)
        self.assertEqual(r.returncode, 2, r.stderr)
        served = r.stdout.splitlines()
        self.assertTrue(served and all(line.startswith("ok\t") for line in served), r.stdout)
        self.assertEqual(r.stderr.count("error 1002"), 1, r.stderr)
        self.assertIn(f"of {len(printers)} printers were not served", r.stderr)
        time.sleep(0.6)  # every held job ends
        self.assertEqual(sum(len(p.jobs) for p in printers), len(served))

    def test_json_lines_hold_every_field(self):
        good = self.printer()
        refused = self.printer(listening=False)
        r = run_cli(["download"] + CHOICES + ["--json", "--tcp", f"127.0.0.1:{good.port}",
                                              "--tcp", f"127.0.0.1:{refused.port}"], env=self.env)
        self.assertEqual(r.returncode, 2, r.stderr)
        lines = [json.loads(line) for line in r.stdout.splitlines()]
        self.assertEqual(len(lines), 3)
        ok, failed, summary = lines
        fields = {"type", "target", "kind", "outcome", "error", "description", "bytes", "ms", "tries"}
        self.assertEqual(set(ok), fields | {"status", "code", "detail"})
        self.assertEqual((ok["status"], ok["code"], ok["detail"]), ("ready", 0, "ready"))
        self.assertEqual(set(failed), fields)
        self.assertEqual((ok["type"], ok["target"], ok["kind"], ok["outcome"], ok["error"],
                          ok["description"], ok["bytes"], ok["tries"]),
                         ("result", f"tcp 127.0.0.1:{good.port}", "tcp", "ok", None, None,
                          len(BATCH), 1))
        self.assertEqual((failed["outcome"], failed["error"], failed["bytes"], failed["tries"]),
                         ("failed", 1011, 0, 1))
        self.assertIn("refused", failed["description"])
        self.assertTrue(all(isinstance(x["ms"], int) and x["ms"] >= 0 for x in lines))
        self.assertEqual({k: v for k, v in summary.items() if k != "ms"},
                         {"type": "summary", "ok": 1, "failed": 1, "total": 2})

    def test_refused_twice_then_served_with_retries(self):
        # Bound but not listening: refused until the test starts listening,
        # which it does once the program says its second try failed; the wait
        # before the third try (2 x 0.5 s) leaves it ample time.
        late = self.printer(listening=False)
        proc = subprocess.Popen([CLI, "download"] + CHOICES +
                                ["--retry", "3", "--retry-wait", "0.5", "--json", "--tcp",
                                 f"127.0.0.1:{late.port}"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, env=self.env)
        notes = []
        for line in proc.stderr:
            notes.append(line)
            if "try 2 failed" in line:
                late.listen()
                break
        out, rest = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 0, "".join(notes) + rest)
        self.assertEqual(len(notes), 2, notes)
        result = json.loads(out.splitlines()[0])
        self.assertEqual((result["outcome"], result["tries"]), ("ok", 3))
        self.assertEqual(late.jobs, [BATCH])

    def test_printer_that_resets_mid_job_is_not_sent_to_again(self):
        resetting = self.printer(reset_after=5)
        r = run_cli(["test-print", "--retry", "3", "--retry-wait", "0", "--json", "--tcp",
                     f"127.0.0.1:{resetting.port}"], env=self.env)
        self.assertEqual(r.returncode, 2, r.stderr)
        result = json.loads(r.stdout.splitlines()[0])
        self.assertEqual((result["outcome"], result["tries"]), ("failed", 1))
        time.sleep(0.2)  # a second connection, if one were made, would show by now
        self.assertEqual(len(resetting.jobs), 1)

    def test_ten_thousand_refused_printers_in_bounded_memory_and_sockets(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        if hard < 10300:
            self.skipTest(f"needs 10,300 open files, the limit is {hard}")
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        # Ports held bound and never listened on: certainly refused.
        held = []
        for _ in range(10000):
            s = socket.socket()
            s.bind(("127.0.0.1", 0))
            held.append(s)
        try:
            targets = os.path.join(self.dir.name, "targets.txt")
            with open(targets, "w") as f:
                f.writelines(f"tcp 127.0.0.1:{s.getsockname()[1]}\n" for s in held)
            self.assertLess(os.path.getsize(targets), 1 << 20)
            jobs = 32
            with open(os.path.join(self.dir.name, "out.txt"), "w+") as out:
                proc = subprocess.Popen([CLI, "download"] + CHOICES +
                                        ["--jobs", str(jobs), "--targets", targets],
                                        stdout=out, stderr=subprocess.PIPE, env=self.env)
                most, samples = 0, 0
                # Reaped here, not by Popen, to have this child's own peak memory.
                while True:
                    pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
                    if pid:
                        break
                    most = max(most, count_sockets(proc.pid))
                    samples += 1
                    time.sleep(0.002)
                proc.returncode = os.waitstatus_to_exitcode(status)
                stderr = proc.stderr.read().decode()
                proc.stderr.close()
                out.seek(0)
                lines = out.read().splitlines()
        finally:
            for s in held:
                s.close()
        self.assertEqual(proc.returncode, 2, stderr)
        self.assertEqual(len(lines), 10000)
        self.assertTrue(all(line.startswith("failed\t") and "error 1011" in line for line in lines))
        self.assertEqual(stderr, "0 ok, 10000 failed\n")
        self.assertLessEqual(most, jobs)
        self.assertGreater(samples, 0)
        print(f"peak {usage.ru_maxrss} KiB, at most {most} sockets in {samples} samples",
              file=sys.stderr)
        if os.environ.get("KRV_SANITIZED"):
            print("memory bound not checked: sanitizer build", file=sys.stderr)
        else:
            self.assertLess(usage.ru_maxrss, 64 * 1024)  # KiB


def count_sockets(pid):
    count = 0
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                count += os.readlink(f"/proc/{pid}/fd/{fd}").startswith("socket:")
            except OSError:
                pass
    except OSError:
        pass
    return count


if __name__ == "__main__":
    CLI = sys.argv.pop(1)
    unittest.main(verbosity=2)

#!/usr/bin/env python3
"""krv520-cli watch against five krv520-sim printers on 127.0.0.1 whose
status is changed while it runs (through --status-file), stopped and
started again, and kept busy by another connection.

    watch_test.py KRV520_CLI KRV520_SIM
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

CLI = SIM = None
BOUND = 20  # seconds: only against a hang, never a measure
STATES = {"ready", "near-end", "paper-end", "cover-open", "offline", "no-answer",
          "unreachable", "busy", "unavailable"}
TEXT_LINE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\ttcp 127\.0\.0\.1:\d+\t"
                       r"(-|[a-z-]+)\t([a-z-]+)\t.+$")
HOOK = """import json, os, sys
with open(sys.argv[1], "a") as f:
    f.write(json.dumps({k: v for k, v in os.environ.items() if k.startswith("KRV520_")}) + "\\n")
sys.exit(1 if os.environ["KRV520_STATE"] == "cover-open" else 0)
"""


class Sim:
    def __init__(self, folder, name, state, port=0):
        self.status_file = os.path.join(folder, name + ".status")
        self.set(state)
        self.proc = subprocess.Popen(
            [SIM, "--port", str(port), "--status-file", self.status_file, "--one-connection"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline()
        self.port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", line).group(1))
        threading.Thread(target=self.proc.stdout.read, daemon=True).start()
        self.target = "tcp 127.0.0.1:%d" % self.port

    def set(self, state):
        with open(self.status_file + ".new", "w") as f:
            f.write(state + "\n")
        os.replace(self.status_file + ".new", self.status_file)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(BOUND)


class Watch:
    """krv520-cli watch with its lines collected as they come."""

    def __init__(self, args):
        self.proc = subprocess.Popen([CLI, "watch"] + args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.lines, self.errors = [], []
        self.lock = threading.Lock()
        for stream, into in ((self.proc.stdout, self.lines), (self.proc.stderr, self.errors)):
            threading.Thread(target=self._read, args=(stream, into), daemon=True).start()

    def _read(self, stream, into):
        for line in stream:
            with self.lock:
                into.append(line.rstrip("\n"))

    def wait_for(self, test, what):
        deadline = time.monotonic() + BOUND
        while time.monotonic() < deadline:
            with self.lock:
                found = test(list(self.lines), list(self.errors))
            if found:
                return found
            time.sleep(0.05)
        raise AssertionError("no %s within %d s; lines %s, errors %s"
                             % (what, BOUND, self.lines, self.errors))

    def stop(self, sig=signal.SIGTERM):
        self.proc.send_signal(sig)
        return self.proc.wait(BOUND)


class WatchTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="krv-watch-")
        self.sims, self.watches = [], []

    def tearDown(self):
        for p in [w.proc for w in self.watches] + [s.proc for s in self.sims]:
            if p.poll() is None:
                p.kill()
            p.wait()
            for stream in (p.stdout, p.stderr):
                if stream:
                    stream.close()
        shutil.rmtree(self.folder)

    def sim(self, state, port=0):
        s = Sim(self.folder, "p%d" % len(self.sims), state, port)
        self.sims.append(s)
        return s

    def watch(self, args):
        w = Watch(args)
        self.watches.append(w)
        return w

    def test_text_lines_take_the_documented_form(self):
        sims = [self.sim("ready"), self.sim("paper-end")]
        w = self.watch(["--interval", "1"] + sum((["--tcp", s.target[4:]] for s in sims), []))
        lines = w.wait_for(lambda l, e: l if len(l) == 2 else None, "two start lines")
        self.assertEqual(w.stop(signal.SIGINT), 0)
        for line in lines:
            self.assertRegex(line, TEXT_LINE)
        self.assertEqual(sorted(x.split("\t")[1:4] for x in lines),
                         sorted([[s.target, "-", st] for s, st in zip(sims, ("ready", "paper-end"))]))

    def test_changes_are_reported_once_with_hooks_and_metrics(self):
        a, b, c, d = (self.sim(s) for s in ("ready", "ready", "ready", "near-end"))
        e = self.sim("offline")
        targets = os.path.join(self.folder, "shop.targets")
        with open(targets, "w") as f:
            f.write("".join("tcp %s\n" % s.target[4:] for s in (a, b, c, d)))
        hooks = os.path.join(self.folder, "hooks.jsonl")
        hook = os.path.join(self.folder, "hook.py")
        with open(hook, "w") as f:
            f.write(HOOK)
        w = self.watch(["--interval", "1", "--json", "--targets", targets, "--metrics",
                        "127.0.0.1:0", "--exec", "%s %s %s" % (sys.executable, hook, hooks)])
        # Groups of lines, in order; within a group any order.
        expected = [[(s.target, None, st) for s, st in
                     ((a, "ready"), (b, "ready"), (c, "ready"), (d, "near-end"))]]

        def settle():
            count = sum(map(len, expected))
            got = w.wait_for(lambda l, e: l if len(l) >= count else None, "lines %s" % expected)
            got = [json.loads(x) for x in got]
            groups = []
            for group in expected:
                groups.append(sorted(got[:len(group)], key=lambda g: g["target"]))
                got = got[len(group):]
            self.assertEqual([[(g["target"], g["previous"], g["state"]) for g in group]
                              for group in groups], [sorted(group) for group in expected])

        settle()
        # SIGHUP: the targets file now names a fifth printer.
        with open(targets, "a") as f:
            f.write("tcp %s\n" % e.target[4:])
        w.proc.send_signal(signal.SIGHUP)
        expected.append([(e.target, None, "offline")])
        settle()

        # Each a change that must come once; the order between printers is free.
        changes = [(a, "paper-end"), (b, "cover-open"), (c, "offline"), (d, "ready")]
        for s, state in changes:
            s.set(state)
        expected.append([(s.target, old, new) for (s, new), old in
                         zip(changes, ("ready", "ready", "ready", "near-end"))])
        settle()

        # Stopped and started again on its port: unreachable, then its state.
        d.stop()
        expected.append([(d.target, "ready", "unreachable")])
        settle()
        self.sims.append(Sim(self.folder, "p3", "ready", d.port))
        expected.append([(d.target, "unreachable", "ready")])
        settle()

        # Busy with another connection for two seconds: nothing; for longer: busy.
        for hold, lines in ((2, []), (6, [[(a.target, "paper-end", "busy")],
                                          [(a.target, "busy", "paper-end")]])):
            with socket.create_connection(("127.0.0.1", a.port)):
                time.sleep(hold)
            expected += lines
            time.sleep(3)  # three more polls that must add nothing
            settle()

        for g in w.lines:
            g = json.loads(g)
            self.assertEqual(set(g), {"type", "time", "target", "kind", "previous", "state",
                                      "detail"})
            self.assertEqual((g["type"], g["kind"]), ("change", "tcp"))
            self.assertIn(g["state"], STATES)
            self.assertRegex(g["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")

        # The metrics as the printers are now, in a form promtool takes.
        port = int(w.wait_for(lambda l, e: [m for x in e for m in re.findall(
            r"metrics at http://127\.0\.0\.1:(\d+)/metrics", x)], "the metrics address")[0])
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=BOUND) as r:
            body = r.read().decode()
        check = subprocess.run(["promtool", "check", "metrics"], input=body, text=True,
                               capture_output=True, timeout=BOUND)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        now = {s.target: st for s, st in ((a, "paper-end"), (b, "cover-open"), (c, "offline"),
                                          (d, "ready"), (e, "offline"))}
        shown = dict(re.findall(r'krv520_printer_state\{target="([^"]+)",state="([a-z-]+)"\} 1',
                                body))
        self.assertEqual(shown, now)

        # A hook for each line, with what the line said; the failing one reported.
        def calls(*_):
            if not os.path.exists(hooks):
                return []
            with open(hooks) as f:
                return sorted((h["KRV520_TARGET"], h["KRV520_PREVIOUS"], h["KRV520_STATE"])
                              for h in map(json.loads, f))

        w.wait_for(lambda l, e: len(calls()) == sum(map(len, expected)), "every hook")
        self.assertEqual(calls(), sorted((t, p or "", s) for group in expected for t, p, s in group))
        self.assertTrue(any("--exec for %s (cover-open) exited with status 1" % b.target in x
                            for x in w.errors), w.errors)
        self.assertEqual(w.stop(), 0)


if __name__ == "__main__":
    CLI, SIM = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)

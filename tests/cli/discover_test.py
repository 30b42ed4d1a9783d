#!/usr/bin/env python3
"""krv520-cli discover against real peers: krv520-sim on several 127.0.0.N
addresses sharing one port, python listeners that are no printers, and
krv520-sim on a pseudo-terminal for --local.

    discover_test.py PATH_TO_KRV520_CLI PATH_TO_KRV520_SIM
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

CLI = SIM = None
# The sim's --status STATE and the word status gives for it.
PRINTERS = {"127.0.0.11": ("ready", "ready"), "127.0.0.12": ("near-end", "near-end"),
            "127.0.0.13": ("paper-end", "paper-end"), "127.0.0.14": ("cover-open", "cover-open"),
            "127.0.0.15": ("offline", "not-ready")}
HTTP, SILENT, BUSY = "127.0.0.16", "127.0.0.17", "127.0.0.18"


def run(*args, user=None):
    prefix = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] if user else []
    return subprocess.run(prefix + [CLI, *args], capture_output=True, text=True, timeout=20)


def start_sim(*args):
    sim = subprocess.Popen([SIM, *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           text=True)
    first = sim.stdout.readline()
    if not first.startswith("listening on "):
        sim.kill()
        raise RuntimeError("krv520-sim did not start: " + first)
    return sim, first.split()[-1]


def stop(sim):
    sim.terminate()
    sim.wait(timeout=10)
    sim.stdout.close()


def http_listener(address, port):
    """Answers whatever comes with an HTTP error, as a web server does."""
    sock = socket.socket()
    sock.bind((address, port))
    sock.listen(8)

    def serve():
        while True:
            try:
                conn, _ = sock.accept()
                conn.recv(100)
                conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
                conn.close()
            except OSError:
                return
    threading.Thread(target=serve, daemon=True).start()
    return sock


class Sweep(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        probe = socket.socket()
        probe.bind(("127.0.0.11", 0))
        cls.port = probe.getsockname()[1]
        probe.close()
        # Stopped however far the start-up got.
        for address, (state, _) in PRINTERS.items():
            cls.addClassCleanup(stop, start_sim("--address", address, "--port", str(cls.port),
                                                "--status", state)[0])
        cls.addClassCleanup(stop, start_sim("--address", SILENT, "--port", str(cls.port),
                                            "--status", "silent")[0])
        cls.addClassCleanup(stop, start_sim("--address", BUSY, "--port", str(cls.port),
                                            "--one-connection")[0])
        # Busy: another connection holds it for the whole test.
        cls.holder = socket.create_connection((BUSY, cls.port), timeout=5)
        cls.addClassCleanup(cls.holder.close)
        cls.addClassCleanup(http_listener(HTTP, cls.port).close)
        cls.folder = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, cls.folder)

    def test_lists_printers_in_address_order(self):
        target = lambda a: f"tcp {a}:{self.port}"
        printers = [(word, target(a)) for a, (_, word) in PRINTERS.items()]
        busy = [("busy", target(BUSY))]
        others = [("other", target(HTTP)), ("other", target(SILENT))]
        rows = [([], printers + busy), (["--all"], printers + others + busy),
                (["--jobs", "1"], printers + busy)]
        for extra, expected in rows:
            with self.subTest(extra=extra):
                result = run("discover", "127.0.0.0/24", "--port", str(self.port), *extra)
                self.assertEqual(result.returncode, 0, result.stderr)
                got = [tuple(line.split("\t")[:2]) for line in result.stdout.splitlines()]
                self.assertEqual(got, expected)

    def test_json_lines_say_the_kind(self):
        result = run("discover", "127.0.0.8/29", "127.0.0.16/29", "--port", str(self.port),
                     "--all", "--json")
        lines = [json.loads(line) for line in result.stdout.splitlines()]
        kinds = {o["address"]: o["kind"] for o in lines if o["type"] == "found"}
        expected = {a: "printer" for a in PRINTERS}
        expected.update({HTTP: "other", SILENT: "other", BUSY: "busy"})
        self.assertEqual(kinds, expected)
        self.assertEqual(lines[-1]["tried"], 16)

    def test_targets_file_drives_status(self):
        path = os.path.join(self.folder, "found.txt")
        result = run("discover", "127.0.0.0/24", "--port", str(self.port), "--targets-out", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        status = run("status", "--targets", path)
        got = [tuple(line.split("\t")[:2]) for line in status.stdout.splitlines()]
        self.assertEqual(got, [(w, f"tcp {a}:{self.port}") for a, (_, w) in PRINTERS.items()])

    def test_targets_out_is_never_a_fifo(self):
        fifo = os.path.join(self.folder, "fifo")
        os.mkfifo(fifo)
        result = run("discover", "127.0.0.11", "--port", str(self.port), "--targets-out", fifo)
        self.assertEqual(result.returncode, 2)
        self.assertIn("FIFO", result.stderr)


class Refusals(unittest.TestCase):
    def test_bad_ranges_refused_before_any_connection(self):
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(8)
        listener.setblocking(False)
        port = str(listener.getsockname()[1])
        rows = [("10.0.0.0/33", "from 0 to 32"), ("1.2.3", "four numbers"),
                ("printer.example", "host names are not looked up"),
                ("127.0.0.5-127.0.0.1", "comes before"), ("::1-127.0.0.1", "both be IPv4"),
                ("127.0.0.0/15", f"{2**17 + 1} addresses"), ("fd00::/100", f"{2**28 + 1} addresses"),
                ("127.0.0.1/", "prefix length")]
        for text, reason in rows:
            with self.subTest(range=text):
                # The good range comes first: nothing is tried until all are read.
                result = run("discover", "127.0.0.1", text, "--port", port)
                self.assertEqual(result.returncode, 1)
                self.assertIn(reason, result.stderr)
                self.assertEqual(result.stdout, "")
        with self.assertRaises(BlockingIOError):
            listener.accept()
        listener.close()

    def test_wrong_options_refused(self):
        rows = [(["127.0.0.1", "--port", "0"], "--port"), (["127.0.0.1", "--port", "1,x"], "--port"),
                (["127.0.0.1", "--timeout-ms", "0"], "--timeout-ms"), ([], "address range"),
                (["--local", "127.0.0.1"], "no address range"),
                (["--local", "--serial-speed", "9600,7E1"], "--serial-speed"),
                (["--local", "--device-dir", "/nonexistent"], "not a folder"),
                (["127.0.0.1", "--no-probe"], "--local")]
        for args, reason in rows:
            with self.subTest(args=args):
                result = run("discover", *args)
                self.assertEqual(result.returncode, 1)
                self.assertIn(reason, result.stderr)

    def test_sweep_counts(self):
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        closed = ["--port", str(probe.getsockname()[1])]
        probe.close()
        rows = [(["127.0.0.8/30"], 4), (["127.0.0.1-127.0.0.3"], 3), (["::1"], 1),
                (["127.0.0.0/31", "::1"], 3), (["127.0.0.9/32", "--port", "1,2"], 2)]
        for args, tried in rows:
            with self.subTest(args=args):
                result = run("discover", *closed, *args, "--json")
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(json.loads(result.stdout.splitlines()[-1])["tried"], tried)


class Peers(unittest.TestCase):
    def test_progress_only_on_a_terminal(self):
        for terminal in (True, False):
            with self.subTest(terminal=terminal):
                main, other = os.openpty() if terminal else os.pipe()
                with subprocess.Popen([CLI, "discover", "127.0.0.0/24", "--port", "1"],
                                      stdout=subprocess.DEVNULL, stderr=other) as cli:
                    os.close(other)
                    text = b""
                    try:
                        while chunk := os.read(main, 4096):
                            text += chunk
                    except OSError:  # the terminal's far end is gone
                        pass
                    self.assertEqual(cli.wait(timeout=20), 0)
                os.close(main)
                self.assertEqual(b" of 256" in text, terminal, text)

    def test_simulator_listens_on_loopback_only(self):
        rows = [("127.0.0.23", True), ("::1", True), ("10.0.0.1", False), ("localhost", False),
                ("127.1", False)]
        for address, listens in rows:
            with self.subTest(address=address):
                if listens:
                    peer, where = start_sim("--address", address, "--port", "0")
                    stop(peer)
                    self.assertEqual(where.rsplit(":", 1)[0], address)
                else:
                    result = subprocess.run([SIM, "--address", address, "--port", "0"],
                                            capture_output=True, text=True, timeout=20)
                    self.assertEqual(result.returncode, 2)
                    self.assertIn("loopback", result.stderr)


class Local(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        os.chmod(self.folder, 0o755)
        self.sim, pts = start_sim("--serial")
        os.symlink(pts, os.path.join(self.folder, "usb-Vela_KRV520-if00"))
        locked = os.path.join(self.folder, "ttyLocked")
        os.mknod(locked, 0o660 | 0o020000, os.makedev(1, 3))
        shutil.chown(locked, group="dialout")
        os.chmod(locked, 0o660)

    def tearDown(self):
        stop(self.sim)
        shutil.rmtree(self.folder)

    def test_lists_devices_in_the_folder(self):
        link = os.path.join(self.folder, "usb-Vela_KRV520-if00")
        locked = os.path.join(self.folder, "ttyLocked")
        rows = [(None, [], {link: "ready"}), (None, ["--no-probe"], {link: "not-asked"}),
                ("nobody", [], {locked: "no-access"})]
        for user, extra, expected in rows:
            with self.subTest(user=user, extra=extra):
                result = run("discover", "--local", "--device-dir", self.folder, "--json", *extra,
                             user=user)
                self.assertEqual(result.returncode, 0, result.stderr)
                found = {o["device"]: o for o in map(json.loads, result.stdout.splitlines())}
                for device, word in expected.items():
                    self.assertEqual(found[device]["status"], word)
        self.assertIn("usermod -aG dialout nobody", found[locked]["access"])

    def test_targets_file_drives_status(self):
        path = os.path.join(self.folder, "local.txt")
        run("discover", "--local", "--device-dir", self.folder, "--targets-out", path)
        status = run("status", "--targets", path)
        self.assertEqual(status.returncode, 0, status.stdout + status.stderr)
        self.assertRegex(status.stdout, r"^ready\tserial .*usb-Vela_KRV520-if00:9600,8N1,none\t")


if __name__ == "__main__":
    CLI, SIM = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)

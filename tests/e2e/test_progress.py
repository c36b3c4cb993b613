"""The live progress display, end to end: the real tcpflash against
tcpflash-sim, with standard error on a pseudo-terminal (natively) or on a
pipe (both builds).

Standard output is the exact transcript: it must stay byte for byte what a
run without the display prints. On a terminal that shows both streams, the
screen must read, once the run is over, exactly as without the display."""

import concurrent.futures
import os
import re
import select
import socket
import subprocess
import threading
import time
import unittest

import harness
from harness import make_image, start_sim, tool_command, workdir

# A transfer line: "  42%  1.6/3.8 MB  1.1 MB/s  2 s left".
TRANSFER_LINE = re.compile(rb" *(\d+)%  [\d.]+/[\d.]+ [kM]B(  [\d.]+ [kM]B/s(  \d+ (s|min) left)?)?")
COUNTDOWN = re.compile(rb"waiting for the update loader: (\d) s")
ATTEMPT = re.compile(rb"(\d+)/10")

# The relay lets the image through at this rate, so that the transfer lasts
# seconds: the tool's socket buffers take a few MB at once, the rest follows
# at the rate.
RELAY_RATE = 2 * 1000 * 1000
BIG_IMAGE = os.urandom(8 * 1000 * 1000 + 17)


class Relay:
    """A loopback relay in front of a simulator: passes each connection on
    to the simulator's port, the tool's bytes at most rate bytes/s, the
    device's unhindered. Either side hanging up ends both."""

    def __init__(self, target_port, rate):
        self._target = target_port
        self._rate = rate
        self._closed = False
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # A small receive buffer, inherited by the accepted sockets, keeps the
        # relay from swallowing the image at once.
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 16)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(4)
        self._listener.settimeout(0.2)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def _accept(self):
        while not self._closed:
            try:
                client, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        try:
            device = socket.create_connection(("127.0.0.1", self._target), timeout=10)
        except OSError:
            client.close()
            return
        device.settimeout(None)
        with client, device:
            start, passed = time.monotonic(), 0
            while not self._closed:
                ready, _, _ = select.select([client, device], [], [], 0.2)
                for s in ready:
                    other = device if s is client else client
                    try:
                        data = s.recv(1 << 16)
                        if not data:
                            return
                        other.sendall(data)
                    except OSError:
                        return
                    if s is client:
                        passed += len(data)
                        ahead = passed / self._rate - (time.monotonic() - start)
                        if ahead > 0:
                            time.sleep(ahead)

    def close(self):
        self._closed = True
        self._thread.join(5)
        self._listener.close()


class Result:
    def __init__(self, status, out, err, tty):
        self.status = status
        self.out = out  # standard output, when it was a pipe
        self.err = err  # standard error, when it was a pipe
        self.tty = tty  # everything the pseudo-terminal received


def flash(progress, sim_args, image, stdout="pipe", stderr="pipe", rate=None):
    """One update run against a fresh simulator (behind a Relay when rate is
    given), with --progress progress; stdout and stderr are "pipe" or "pty"
    (both on the same pseudo-terminal when both say so)."""
    with workdir(image) as path:
        with start_sim(["--quiet"] + list(sim_args)) as sim:
            relay = Relay(sim.port, rate) if rate else None
            try:
                port = relay.port if relay else sim.port
                cmd = tool_command(["--progress", progress, "127.0.0.1", port])
                return _launch(cmd, path, stdout, stderr)
            finally:
                if relay:
                    relay.close()


def _launch(cmd, cwd, stdout, stderr):
    master = slave = None
    if "pty" in (stdout, stderr):
        master, slave = os.openpty()
    tty = bytearray()
    reader = None
    try:
        proc = subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=slave if stdout == "pty" else subprocess.PIPE,
                                stderr=slave if stderr == "pty" else subprocess.PIPE)
        if slave is not None:
            os.close(slave)
            slave = None
            reader = threading.Thread(target=_drain, args=(master, tty), daemon=True)
            reader.start()
        try:
            out, err = proc.communicate(timeout=harness.RUN_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            raise AssertionError("tcpflash did not end within %s s" % harness.RUN_TIMEOUT_S)
        if reader:
            reader.join(10)
        return Result(harness.exit_status(proc.returncode), out, err, bytes(tty))
    finally:
        for fd in (slave, master):
            if fd is not None:
                os.close(fd)


def _drain(master, into):
    # Reading ends with EIO (Linux) or an empty read once the tool has closed
    # its last descriptor of the terminal.
    while True:
        try:
            data = os.read(master, 4096)
        except OSError:
            return
        if not data:
            return
        into += data


def same_port(out):
    """out with the port of the connecting line made the same for every run."""
    return re.sub(rb"port \d+", b"port N", out)


def screen(data, width=80):
    """The text a terminal width columns wide shows after data: lines
    without trailing blanks. A printed "\\n" starts a new line at its first
    column (as a terminal's output processing makes it), "\\r" returns to the
    first column, a backspace moves back one column, text wraps at the edge."""
    lines, row, col = [[]], 0, 0
    for b in data:
        if b == 0x0D:
            col = 0
        elif b == 0x0A:
            row, col = row + 1, 0
        elif b == 0x08:
            col = max(col - 1, 0)
        elif b >= 0x20 and b != 0x7F:
            if col == width:
                row, col = row + 1, 0
            while len(lines) <= row:
                lines.append([])
            line = lines[row]
            line.extend(" " * (col + 1 - len(line)))
            line[col] = chr(b)
            col += 1
        else:
            raise AssertionError("control byte %#x on the terminal" % b)
        while len(lines) <= row:
            lines.append([])
    return "\n".join("".join(line).rstrip() for line in lines).rstrip("\n")


def run_all(cases):
    """Runs the cases {name: flash arguments} side by side (they mostly wait
    for the tool's fixed pauses) and returns {name: Result}."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(cases)) as pool:
        futures = {name: pool.submit(flash, **args) for name, args in cases.items()}
        return {name: f.result() for name, f in futures.items()}


class TerminalTest(unittest.TestCase):
    """Standard error on a pseudo-terminal, as an operator runs the tool."""

    @classmethod
    def setUpClass(cls):
        if harness.on_windows() or not hasattr(os, "openpty"):
            raise unittest.SkipTest("pseudo-terminals are a native test (a Wine console is "
                                    "no terminal)")
        switch = dict(sim_args=["--mode", "1"], image=BIG_IMAGE, rate=RELAY_RATE)
        refused = dict(sim_args=["--mode", "1", "--no-loader"], image=make_image())
        cls.runs = run_all({
            "switch_off": dict(progress="off", stderr="pty", **switch),
            "switch": dict(progress="auto", stderr="pty", **switch),
            "switch_shared": dict(progress="auto", stdout="pty", stderr="pty", **switch),
            "refused_off": dict(progress="off", stderr="pty", **refused),
            "refused": dict(progress="auto", stderr="pty", **refused),
            "refused_shared": dict(progress="auto", stdout="pty", stderr="pty", **refused),
        })

    def test_standard_output_is_unchanged(self):
        for case in ("switch", "refused"):
            with self.subTest(case=case):
                off, on = self.runs[case + "_off"], self.runs[case]
                self.assertEqual(same_port(on.out), same_port(off.out))
                self.assertEqual(on.status, off.status)
        self.assertEqual(self.runs["switch"].status, 0)
        self.assertIn(b"Transfering image..ok\n", self.runs["switch"].out)
        self.assertIn(b"Loop connect err\n" * 10 + b"Loop Timeout\r\n", self.runs["refused"].out)

    def test_off_writes_nothing(self):
        for case in ("switch_off", "refused_off"):
            with self.subTest(case=case):
                self.assertEqual(self.runs[case].tty, b"")

    def test_countdown_attempt_and_transfer_on_the_terminal(self):
        tty = self.runs["switch"].tty
        countdown = [int(m.group(1)) for m in COUNTDOWN.finditer(tty)]
        self.assertEqual(countdown, [4, 3, 2, 1])
        self.assertEqual([m.group(0) for m in ATTEMPT.finditer(tty)], [b"1/10"])
        lines = [m.group(0).strip() for m in TRANSFER_LINE.finditer(tty)]
        percents = [int(line.split(b"%")[0]) for line in lines]
        self.assertEqual(percents[0], 0, lines)
        self.assertGreaterEqual(len(set(percents)), 3, "several redraws: %r" % lines)
        self.assertEqual(percents, sorted(percents), lines)
        self.assertTrue(any(line.endswith(b" s left") for line in lines), lines)
        # Wait, then attempt, then transfer, all on one line, erased at the end.
        self.assertLess(tty.index(b"1 s"), tty.index(b"1/10"))
        self.assertLess(tty.index(b"1/10"), tty.index(b"   0%"))
        self.assertEqual(screen(tty), "")

    def test_every_reconnect_attempt_is_shown(self):
        tty = self.runs["refused"].tty
        attempts = [m.group(0).decode() for m in ATTEMPT.finditer(tty)]
        self.assertEqual(attempts, ["%d/10" % n for n in range(1, 11)])
        self.assertEqual(screen(tty), "")

    def test_shared_terminal_reads_as_without_the_display(self):
        # Standard output on the same terminal: "Transfering image..",
        # "Loop " and Connect's "connect err" stand on the lines the display
        # is drawn on.
        for case in ("switch", "refused"):
            with self.subTest(case=case):
                shared = self.runs[case + "_shared"].tty
                self.assertIn(b"\b", shared, "the display was drawn")
                self.assertEqual(screen(same_port(shared)),
                                 screen(same_port(self.runs[case + "_off"].out)))


class PipeTest(unittest.TestCase):
    """Standard error on a pipe: the Windows build under Wine too."""

    @classmethod
    def setUpClass(cls):
        loader = dict(sim_args=["--mode", "2"], image=make_image(300 * 750 + 7))
        cls.runs = run_all({mode: dict(progress=mode, **loader) for mode in ("off", "on", "auto")})

    def test_standard_output_is_unchanged(self):
        off = self.runs["off"]
        self.assertEqual(off.status, 0)
        self.assertIn(harness.console_text("Transfering image..ok\n"), off.out)
        for mode in ("on", "auto"):
            with self.subTest(mode=mode):
                self.assertEqual(same_port(self.runs[mode].out), same_port(off.out))
                self.assertEqual(self.runs[mode].status, 0)

    def test_display_only_when_asked_for(self):
        self.assertEqual(self.runs["off"].err, b"")
        self.assertEqual(self.runs["auto"].err, b"", "a pipe is no terminal")
        on = self.runs["on"].err
        self.assertRegex(on, rb"^   0%  0\.0/225\.0 kB")
        self.assertEqual(screen(on), "", "erased at the end")


if __name__ == "__main__":
    harness.main()

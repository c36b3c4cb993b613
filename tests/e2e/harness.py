"""End-to-end harness: runs the real tcpflash executable (and, for tests that
need a device, tcpflash-sim) in a temporary working directory.

Each test script is started by CTest as

    python3 <script> --tool PATH [--emulator WINE] [--sim PATH] [--many PATH]
                     [unittest args]

Natively --tool names `tcpflash`; in the Windows build it names
`tcpflash.exe` and --emulator the wine64 loader, with the Wine environment
(prefix, quiet debug output) set by CTest. --many names `tcpflash-many`.

Every address the tool sees is 127.0.0.1, always with an explicit port of a
socket the test opened itself. Every process has a hard timeout.
"""

import argparse
import contextlib
import json
import os
import random
import re
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

IMAGE_NAME = "image.uncompressed"
BANNER = "TCP/IP Application Flash Utility Version 0.07 fuer Arm7 und Arm9 (06.02.2008)\r\n"
PROMPT = "IP Adresse: "

# Generous bounds: Wine starts slowly on a loaded machine.
RUN_TIMEOUT_S = 90
SIM_START_TIMEOUT_S = 60

_config = argparse.Namespace(tool=None, emulator=None, sim=None, many=None)


def configure(argv=None):
    """Reads the harness options from argv and returns the remaining
    arguments (for unittest)."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--emulator", default=None)
    parser.add_argument("--sim", default=None)
    parser.add_argument("--many", default=None)
    args, rest = parser.parse_known_args(sys.argv[1:] if argv is None else argv)
    _config.tool = os.path.abspath(args.tool)
    _config.emulator = args.emulator or None
    _config.sim = os.path.abspath(args.sim) if args.sim else None
    _config.many = os.path.abspath(args.many) if args.many else None
    return rest


def main():
    """Entry point of a test script: configure, then run its unittest cases."""
    rest = configure()
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)


def on_windows():
    """True when the executables are Windows programs run under an emulator."""
    return _config.tool.lower().endswith(".exe")


def console_text(native):
    """The bytes that arrive from the program for text it prints.

    A Windows program's stdout is in text mode: each "\\n" it prints arrives as
    "\\r\\n" (so a printed "\\r\\n" arrives as "\\r\\r\\n"). Natively the text
    arrives unchanged. Tests write the expected output in the native form and
    compare against this."""
    if isinstance(native, str):
        native = native.encode("latin-1")
    return native.replace(b"\n", b"\r\n") if on_windows() else native


def exit_status(status):
    """The process exit status the test sees for the program's return value
    (-1 arrives as 255, both natively and under Wine)."""
    return status & 0xFF


def crc16(data):
    """CRC-16/GENIBUS, as the application frames carry it."""
    crc = 0xFFFF
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc ^ 0xFFFF


def make_image(size=5000, seed=1):
    """Random image bytes, a quarter of them values that need stuffing."""
    rng = random.Random(seed)
    return bytes(rng.choice((0xFD, 0xFE, 0xFF)) if rng.random() < 0.25 else rng.randrange(256)
                 for _ in range(size))


def big_image(size, seed=7):
    """Random image bytes, quickly made for images of many megabytes."""
    return random.Random(seed).randbytes(size)


def read_image(path, missing=None):
    """The bytes of the file at path (an image the simulator wrote with
    --image-out), or missing when there is no such file."""
    if not os.path.exists(path):
        return missing
    with open(path, "rb") as f:
        return f.read()


# ---- The tool's console text for a run against tcpflash-sim.

SIM_APP_VERSION = b"SIM01"
SIM_LOADER_VERSION = "SIM-LOADER 1.0"


def connecting(port):
    """The banner and the first connection to 127.0.0.1:port."""
    return BANNER + "Connecting to 127.0.0.1 port %d\r\ns init ok\n" % port


def app_reply(seq, body):
    """Decoded content of an application reply: 00 00 seq len body crc."""
    content = bytes([0, 0, seq, len(body)]) + bytes(body)
    crc = crc16(content)
    return content + bytes([crc >> 8, crc & 0xFF])


def dump(content):
    """A reply's content as the tool dumps it."""
    return "".join("%2x " % b for b in content)


def mode_query():
    """An answered mode query."""
    return "Ack Frame received: ok\r\nStatus lesen... ok\r\n\r\nStatus received..ok\r\n"


def app_version():
    """The application's version reply."""
    content = app_reply(0, b"\x2d\x04\x4e\x53\x09" + SIM_APP_VERSION)
    return ("\r\nVersion received: %d\r\n" % len(content) + dump(content) +
            "\r\nVersion %s\r\n" % SIM_APP_VERSION.decode())


def start_update(seq):
    """An acknowledged switch to the update loader."""
    ack = app_reply(seq, [0x18, 0x00])
    return "Write Update Command ok\n" + "Ack Frame received: %d\r\n" % len(ack) + dump(ack)


def loader_steps(polls="Device State: ready\r\n", reset_status=0, close="Close ok\n"):
    """Everything from the loader's version to the close command."""
    reset = bytes([0x00, 0x04, 0x07, 0x00, 0x18, reset_status])
    verdict = " Restarting Device ok\r\n" if reset_status == 0 else " Error Restarting Device\r\n"
    return ("\r\nUpdateloader Version received: " + SIM_LOADER_VERSION +
            "\r\nReset Flashdata ok\n" + "Transfering image.." + "ok\n" +
            "Setting Offset ok\n" + "Starting Flash ok\n" + polls + "\r\nDev reset\r\n" +
            "Ack Frame received: %d\r\n" % len(reset) + dump(reset) + verdict + close)


def switch_to_loader():
    """A board in application mode found and switched to its update loader."""
    return ("Device found 1\r\n" + app_version() + "Starte Update..." + start_update(2) +
            "ok\r\n" + "Connecting to Updateloader...")


def sim_available():
    return _config.sim is not None and os.path.exists(_config.sim)


def _command(executable, args):
    cmd = [executable] + [str(a) for a in args]
    if executable.lower().endswith(".exe") and _config.emulator:
        cmd = [_config.emulator] + cmd
    return cmd


@contextlib.contextmanager
def workdir(image=b"\x00" * 1500):
    """A temporary working directory holding the image file (none when image
    is None). Yields its path."""
    with tempfile.TemporaryDirectory(prefix="tcpflash-e2e-") as path:
        if image is not None:
            with open(os.path.join(path, IMAGE_NAME), "wb") as f:
                f.write(image)
        yield path


def run_tool(args, stdin=b"", image=b"\x00" * 1500, cwd=None, timeout=RUN_TIMEOUT_S):
    """Runs the tool with args in cwd (or in a fresh working directory with
    image, or without one when image is None), feeding stdin then end of
    input. Returns (stdout bytes, exit status 0..255). Fails the calling test
    when the tool does not end within timeout seconds."""
    _check_target(args, stdin)
    if cwd is None:
        with workdir(image) as path:
            return run_tool(args, stdin=stdin, cwd=path, timeout=timeout)
    try:
        proc = subprocess.run(_command(_config.tool, args), input=stdin, cwd=cwd,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        raise AssertionError("tcpflash did not end within %s s; output so far: %r"
                             % (timeout, e.stdout)) from None
    return proc.stdout, exit_status(proc.returncode)


def start_tool(args, cwd):
    """Starts the tool with args in cwd, stdout piped and unread, for tests
    that follow its output while it runs. The caller waits for it."""
    _check_target(args, b"")
    return subprocess.Popen(_command(_config.tool, args), cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def tool_command(args, stdin=b""):
    """The command that runs the tool with args (under the emulator for the
    Windows build), for tests that wire its streams themselves. The address
    is checked as in run_tool."""
    _check_target(args, stdin)
    return _command(_config.tool, args)


# Options of the tool that take a value; they never count as arguments.
_VALUE_OPTIONS = ("--image", "--progress", "--events", "--expect-sha256", "--boot-timeout",
                  "--expect-version", "--ready-timeout")


def _positional(args):
    rest, it = [], iter(str(a) for a in args)
    for a in it:
        if a in _VALUE_OPTIONS:
            next(it, None)
        elif a in ("-h", "--help", "/?", "--version"):
            return None  # the tool only prints its help or version
        elif not (a.startswith("-") and len(a) > 1 and not a[1].isdigit()):
            rest.append(a)
    return rest


def _check_target(args, stdin):
    # Never let the tool reach anything but a loopback port of the test's own:
    # a short address would be completed to 192.168.14.x.
    args = _positional(args)
    if args is None:
        return
    if len(args) == 2:
        if not is_loopback_text(str(args[0])):
            raise AssertionError("end-to-end tests only address 127.0.0.1, got %r" % (args[0],))
    elif len(args) == 1:
        raise AssertionError("give the port too: one argument means port 6666")
    else:
        # The prompt takes a word of 1-3 or 7 and more characters and connects
        # to it on port 6666; only words it asks again for are allowed.
        for word in stdin.split():
            if not 4 <= len(word) <= 6:
                raise AssertionError("prompt word %r would be taken as the address" % (word,))


def is_loopback_text(text):
    """True when text names a loopback address (127.x.y.z) even as the C
    library reads it, octal, hexadecimal and short forms included: a test
    may hand the programs such forms to see them refused, and whatever
    reading a program applies, it never leaves the machine."""
    try:
        return socket.inet_aton(text)[0] == 127
    except (OSError, ValueError):
        return False


# Options of tcpflash-many that take a value.
_MANY_VALUE_OPTIONS = ("--image", "--jobs", "--log-dir", "--report", "--boards",
                       "--board-timeout", "--boot-timeout", "--ready-timeout",
                       "--expect-version")


def _check_many_targets(args, cwd):
    # Every board tcpflash-many is given, on the command line or in a board
    # file, must be 127.0.0.1 with an explicit port: anything else would be
    # completed or connected to as it stands.
    boards, it = [], iter(str(a) for a in args)
    for a in it:
        if a in _MANY_VALUE_OPTIONS:
            value = next(it, None)
            if a == "--boards" and value is not None:
                path = os.path.join(cwd, value) if cwd else value
                # Only a regular file: a FIFO or a device is what the test
                # wants refused, and reading it here would hang.
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        for line in f.read().decode("latin-1").replace("\0", "\n").splitlines():
                            board = line.split("#", 1)[0].strip()
                            if board:
                                boards.append(board)
        elif a in ("-h", "--help", "--version"):
            return
        elif not (a.startswith("-") and len(a) > 1):
            boards.append(a)
    for board in boards:
        # A loopback address in any form the C library reads, and a port: a
        # short address would be completed, and no port means 6666.
        address, colon, _ = board.partition(":")
        if not colon or not is_loopback_text(address):
            raise AssertionError("end-to-end tests only address 127.0.0.1:PORT, got %r" % board)


def many_available():
    return _config.many is not None and os.path.exists(_config.many)


def _many_command(args, cwd):
    if not many_available():
        raise unittest.SkipTest("tcpflash-many not built")
    _check_many_targets(args, cwd)
    return _command(_config.many, args)


def run_many(args, cwd, timeout=RUN_TIMEOUT_S, env=None):
    """Runs tcpflash-many with args in cwd. Returns (stdout bytes, stderr
    bytes, exit status 0..255). Fails the calling test when it does not end
    within timeout seconds; skips it when tcpflash-many was not built."""
    try:
        proc = subprocess.run(_many_command(args, cwd), cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                              env=env)
    except subprocess.TimeoutExpired as e:
        raise AssertionError("tcpflash-many did not end within %s s; output so far: %r"
                             % (timeout, e.stdout)) from None
    return proc.stdout, proc.stderr, exit_status(proc.returncode)


def start_many(args, cwd, **popen_args):
    """Starts tcpflash-many with args in cwd (stdin from the null device,
    other streams as popen_args say). The caller waits for it."""
    return subprocess.Popen(_many_command(args, cwd), cwd=cwd, stdin=subprocess.DEVNULL,
                            **popen_args)


@contextlib.contextmanager
def refusing_port():
    """A loopback port that refuses connections: bound, never listening, held
    for the duration of the block so no one else can take it. Yields the port."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        s.bind(("127.0.0.1", 0))
        yield s.getsockname()[1]
    finally:
        s.close()


class Sim:
    """A running tcpflash-sim on a free loopback port (see start_sim)."""

    def __init__(self, proc, port, log_file):
        self.proc = proc
        self.port = port
        self._log_file = log_file

    def log(self):
        """What the simulator has logged so far (its stderr)."""
        self._log_file.seek(0)
        return self._log_file.read().decode("latin-1")

    def wait(self, timeout=RUN_TIMEOUT_S):
        """Waits for the simulator to end; returns (rest of stdout, status)."""
        try:
            out, _ = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.communicate()
            raise AssertionError("tcpflash-sim did not end within %s s" % timeout) from None
        return out, exit_status(self.proc.returncode)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.communicate()


@contextlib.contextmanager
def start_sim(args=(), cwd=None, timeout_s=60):
    """Starts tcpflash-sim with --port 0 --once --timeout timeout_s and the
    extra args, reads its "port N" line and yields a Sim; it is killed when the
    block ends if it is still running. The test is skipped when the simulator
    was not built."""
    if not sim_available():
        raise unittest.SkipTest("tcpflash-sim not built")
    cmd = _command(_config.sim, ["--port", "0", "--once", "--timeout", timeout_s] + list(args))
    # The log goes to a file: a pipe nobody reads would stall a chatty simulator.
    with tempfile.TemporaryFile() as log_file:
        proc = subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=log_file)
        sim = Sim(proc, None, log_file)
        try:
            sim.port = _read_port(proc)
            yield sim
        finally:
            sim.stop()


def _read_port(proc):
    found = {}

    def reader():
        for raw in proc.stdout:
            m = re.fullmatch(rb"port (\d+)", raw.strip())
            if m:
                found["port"] = int(m.group(1))
                return

    t = threading.Thread(target=reader, daemon=True)
    t.start()
    t.join(SIM_START_TIMEOUT_S)
    if "port" not in found:
        proc.kill()
        raise AssertionError("tcpflash-sim printed no \"port N\" line within %s s"
                             % SIM_START_TIMEOUT_S)
    return found["port"]


class SimRun:
    """What flash_into_sim saw: the tool's stdout and exit status, the image
    the simulator received (None when it wrote none), the simulator's exit
    status (None when it was not waited for), its port, the tool's events
    (None unless asked for) and the simulator's log."""

    def __init__(self, out, status, received, sim_status, port, events=None, sim_log=""):
        self.out = out
        self.status = status
        self.received = received
        self.sim_status = sim_status
        self.port = port
        self.events = events
        self.sim_log = sim_log


def flash_into_sim(image, sim_args, timeout=RUN_TIMEOUT_S, sim_timeout_s=60, wait_sim=True,
                   tool_args=(), events=False):
    """Runs the tool (with tool_args before the address) in a fresh working
    directory holding image against a fresh simulator started with sim_args
    and --image-out, and returns a SimRun. With wait_sim the simulator's own
    end is waited for; otherwise it is stopped once the tool ended. With
    events the tool writes its event stream to a file, read back with
    read_events."""
    with workdir(image) as path:
        received_path = os.path.join(path, "received.bin")
        events_path = os.path.join(path, "events.jsonl")
        args = list(tool_args) + (["--events", events_path] if events else [])
        with start_sim(["--image-out", received_path] + list(sim_args),
                       timeout_s=sim_timeout_s) as sim:
            out, status = run_tool(args + ["127.0.0.1", sim.port], cwd=path, timeout=timeout)
            sim_status = sim.wait()[1] if wait_sim else None
            sim_log = sim.log()
        return SimRun(out, status, read_image(received_path), sim_status, sim.port,
                      read_events(events_path) if events else None, sim_log)


# ---- The event stream (--events).

def _no_constant(name):
    raise ValueError("not JSON: %s" % name)


def parse_events(data):
    """The event objects of an event stream's bytes: strict UTF-8, one JSON
    object per line, no NaN or Infinity; anything else fails the test."""
    events = []
    for line in data.decode("utf-8", errors="strict").splitlines():
        event = json.loads(line, parse_constant=_no_constant)
        if not isinstance(event, dict):
            raise AssertionError("event line is no object: %r" % line)
        events.append(event)
    return events


def read_events(path):
    """The events in the file at path ([] when there is none)."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return parse_events(f.read())


def check_events(test, events, status):
    """What every event stream promises: "t" never decreases, exactly one
    result event and it comes last, its status is the exit status the test
    saw (status, 0..255), a flashed board ended with 0 and no failure, and
    any other status names its failure. Returns the result event."""
    test.assertTrue(events, "no events")
    times = [e["t"] for e in events]
    test.assertEqual(times, sorted(times), "t went back")
    results = [e for e in events if e["event"] == "result"]
    test.assertEqual(len(results), 1, events)
    result = events[-1]
    test.assertEqual(result["event"], "result")
    test.assertEqual(exit_status(result["status"]), status)
    if result["flashed"]:
        test.assertEqual((result["status"], result["failure"]), (0, None))
    if result["status"] != 0:
        test.assertIsInstance(result["failure"], str)
    return result


def of_kind(events, kind):
    """The events of one kind, in order."""
    return [e for e in events if e["event"] == kind]

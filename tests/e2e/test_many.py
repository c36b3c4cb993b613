"""tcpflash-many end to end: the real tcpflash-many runs the real tcpflash
against tcpflash-sim boards on loopback and is judged by its exit status,
its console, the board logs, the JSON report and the images the simulators
received."""

import contextlib
import hashlib
import json
import os
import pty
import re
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import harness
from harness import (big_image, connecting, console_text, loader_steps, mode_query, read_image,
                     run_many, start_many, start_sim)

# Larger than a loopback connection buffers: when the simulator hangs up at
# its 50th data frame, tcpflash is still sending and sees it at once.
IMAGE = big_image(8 * 1024 * 1024 + 123)
IMAGE_NAME = "fw.bin"
MANY_TIMEOUT_S = 240
SIM_TIMEOUT_S = MANY_TIMEOUT_S + 30


def flashed_transcript(port, busy=0):
    """What tcpflash prints for a board whose loader runs already and that
    answers busy polls busy before ready."""
    polls = "Device State: busy\r\n" * busy + "Device State: ready\r\n"
    return console_text(connecting(port) + mode_query() + "Device found 2\r\n" +
                        loader_steps(polls=polls))


class Tray:
    """Simulators with faults of choice, each in a directory of its own, and a
    working directory for tcpflash-many holding the image."""

    def __init__(self, stack, faults, extra=(), image=IMAGE):
        self.dir = stack.enter_context(tempfile.TemporaryDirectory(prefix="tcpflash-many-"))
        self.image = image
        with open(os.path.join(self.dir, IMAGE_NAME), "wb") as f:
            f.write(image)
        self.sims, self.received = [], []
        for i, fault in enumerate(faults):
            received = os.path.join(self.dir, "received-%d.bin" % i)
            args = ["--mode", "2", "--quiet", "--image-out", received] + list(extra) + list(fault)
            self.sims.append(stack.enter_context(start_sim(args, timeout_s=SIM_TIMEOUT_S)))
            self.received.append(received)

    def boards(self):
        return ["127.0.0.1:%d" % sim.port for sim in self.sims]

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def received_image(self, i):
        return read_image(self.received[i], missing=b"")

    def report(self, name="logs/report.json"):
        with open(self.path(name), "rb") as f:
            return json.loads(f.read().decode("utf-8"))

    def log(self, i, folder="logs", suffix=".log"):
        with open(self.path(folder, "127.0.0.1_%d%s" % (self.sims[i].port, suffix)), "rb") as f:
            return f.read()

    def events(self, i, folder="logs"):
        """The board's events, each line read by a strict JSON parser."""
        lines = self.log(i, folder, ".events.jsonl").decode("utf-8").splitlines()
        return [json.loads(line) for line in lines]


def native_only(why):
    """Skips the calling test in the Windows build."""
    if harness.on_windows():
        raise unittest.SkipTest(why)


def wait_for_connect(test, sim):
    """Waits until the simulator logged a connection."""
    deadline = time.monotonic() + harness.RUN_TIMEOUT_S
    while "sim: connect" not in sim.log():
        test.assertLess(time.monotonic(), deadline, "the board never connected")
        time.sleep(0.05)


def by_board(report):
    return {b["board"]: b for b in report["boards"]}


class ManyTest(unittest.TestCase):
    def check_image_facts(self, report):
        self.assertEqual(report["image"], {"name": IMAGE_NAME, "size": len(IMAGE),
                                           "sha256": hashlib.sha256(IMAGE).hexdigest()})
        stamp = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"
        self.assertRegex(report["started"], stamp)
        self.assertRegex(report["ended"], stamp)
        self.assertLessEqual(report["started"], report["ended"])

    def check_flashed(self, tray, i, report, folder="logs",
                      loader_version=harness.SIM_LOADER_VERSION, busy=0):
        board = tray.boards()[i]
        entry = by_board(report)[board]
        self.assertTrue(entry["flashed"], entry)
        self.assertEqual(entry["exit_status"], 0)
        self.assertEqual(entry["verdict"], "flashed")
        self.assertEqual((entry["failure"], entry["percent_sent"],
                          entry["application_version"]), (None, 100, None))
        self.assertEqual(entry["events_log"], "127.0.0.1_%d.events.jsonl" % tray.sims[i].port)
        self.assertIsNone(entry["stderr_log"])
        events = tray.events(i, folder)
        self.assertEqual((events[0]["event"], events[-1]["event"]), ("start", "result"))
        self.assertEqual((events[-1]["status"], events[-1]["flashed"]), (0, True))
        if loader_version == harness.SIM_LOADER_VERSION:
            self.assertEqual(tray.log(i, folder), flashed_transcript(tray.sims[i].port, busy))
        self.assertEqual(entry["loader_version"], loader_version)
        self.assertTrue(tray.received_image(i) == tray.image, "image of %s arrived changed" % board)
        _, sim_status = tray.sims[i].wait()
        self.assertEqual(sim_status, 0)

    def test_sixteen_boards_in_parallel_two_faulty(self):
        native_only("the Windows build runs the small tray")
        refusing, hanging_up = 3, 11
        faults = [()] * 16
        faults[refusing] = ("--refuse", "loader-query")
        faults[hanging_up] = ("--hangup-at", "data:50")
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, faults)
            started = time.monotonic()
            out, err, status = run_many(["--image", IMAGE_NAME, "--log-dir", "logs"] +
                                        tray.boards(), cwd=tray.dir, timeout=MANY_TIMEOUT_S)
            elapsed = time.monotonic() - started
            self.assertEqual(status, 1, err)
            report = tray.report()
            self.check_image_facts(report)
            self.assertEqual((report["flashed"], report["failed"], report["not_started"],
                              report["jobs"], report["exit_status"]), (14, 2, 0, 16, 1))
            self.assertEqual([b["board"] for b in report["boards"]], tray.boards())
            text = out.decode("latin-1")
            for i, board in enumerate(tray.boards()):
                with self.subTest(board=i):
                    entry = by_board(report)[board]
                    # One line as it ended, one in the table.
                    self.assertEqual(len(re.findall(r"^%s .*$" % re.escape(board), text, re.M)),
                                     2, text)
                    self.assertLess(entry["seconds"], elapsed)
                    if i == refusing:
                        self.assertEqual(entry["verdict"],
                                         "failed: no device answered (while connected)")
                        self.assertEqual(entry["failure"], "no-device")
                        self.assertTrue(tray.log(i).endswith(b"No Device found\r\n"))
                    elif i == hanging_up:
                        self.assertEqual(entry["verdict"], "failed: image transfer broke off "
                                         "(while sending, %d%% sent)" % entry["percent_sent"])
                        self.assertEqual(entry["failure"], "write")
                        self.assertIn(b"Transfering image..Write err\n", tray.log(i))
                        self.assertEqual(entry["phase"], "sending")
                        received = tray.received_image(i)
                        self.assertTrue(0 < len(received) < len(IMAGE))
                        self.assertTrue(received == IMAGE[:len(received)])
                    else:
                        self.check_flashed(tray, i, report)
                    if i in (refusing, hanging_up):
                        self.assertEqual((entry["flashed"], entry["exit_status"]), (False, 255))
                        self.assertRegex(text, r"(?m)^%s +255  %s +\d+\.\d s$"
                                         % (re.escape(board), re.escape(entry["verdict"])))
            self.assertIn("16 boards: 14 flashed, 2 failed, 0 not started", text)
            self.assertIn("report: logs/report.json", text)

    def test_jobs_two_never_runs_more_than_two(self):
        native_only("the Windows build runs the small tray")
        # Every command answered 100 ms late: each board takes seconds.
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [()] * 6, extra=("--delay", "100"))
            most, stop = [0], threading.Event()

            def connected(sim):
                log = sim.log()
                return "sim: connect" in log, "sim: disconnect" in log

            def watch():
                # A board connected at the first look and not yet gone at the
                # second, 200 ms later, was connected all that time: a count
                # that cannot be raised by a simulator slow to log a hang-up,
                # while each board stays connected for more than a second.
                while not stop.is_set():
                    first = [connected(sim)[0] for sim in tray.sims]
                    time.sleep(0.2)
                    second = [connected(sim)[1] for sim in tray.sims]
                    most[0] = max(most[0], sum(a and not b for a, b in zip(first, second)))

            watcher = threading.Thread(target=watch, daemon=True)
            watcher.start()
            try:
                out, err, status = run_many(["--image", IMAGE_NAME, "--jobs", "2", "--log-dir",
                                             "logs"] + tray.boards(), cwd=tray.dir,
                                            timeout=MANY_TIMEOUT_S)
            finally:
                stop.set()
                watcher.join()
            self.assertEqual(status, 0, out + err)
            self.assertEqual(most[0], 2, "boards seen connected at once")
            report = tray.report()
            self.assertEqual((report["flashed"], report["jobs"]), (6, 2))
            for i in range(6):
                self.check_flashed(tray, i, report)

    def test_three_boards_one_failing_from_a_board_file(self):
        # Also the Windows build's case: tcpflash-many.exe starts tcpflash.exe.
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [(), ("--refuse", "loader-query"), ()])
            boards = tray.boards()
            with open(tray.path("tray.txt"), "wb") as f:
                f.write(("# tray 7\r\n\r\n  %s   # left\r\n%s\r\n" % (boards[1], boards[2]))
                        .encode())
            out, err, status = run_many(["--image", IMAGE_NAME, boards[0], "--boards",
                                         "tray.txt", "--report", "tray7.json", "--log-dir",
                                         "logs"], cwd=tray.dir, timeout=MANY_TIMEOUT_S)
            self.assertEqual(status, 1, out + err)
            report = tray.report("tray7.json")
            self.check_image_facts(report)
            self.assertEqual([b["board"] for b in report["boards"]], boards)
            self.assertEqual((report["flashed"], report["failed"]), (2, 1))
            self.check_flashed(tray, 0, report)
            self.check_flashed(tray, 2, report)
            failed = by_board(report)[boards[1]]
            self.assertEqual((failed["exit_status"], failed["verdict"], failed["failure"]),
                             (255, "failed: no device answered (while connected)", "no-device"))
            self.assertEqual((failed["percent_sent"], failed["application_version"],
                              failed["loader_version"]), (None, None, None))
            self.assertEqual(tray.events(1)[-1]["failure"], "no-device")
            self.assertEqual(failed["log"], "127.0.0.1_%d.log" % tray.sims[1].port)
            self.assertTrue(tray.log(1).endswith(console_text("No Device found\r\n")))
            self.assertIn(console_text("3 boards: 2 flashed, 1 failed, 0 not started\n"), out)
            self.assertFalse(os.path.exists(tray.path("logs", "report.json")))

    def test_bad_usage_starts_nothing(self):
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [()])
            board = tray.boards()[0]
            os.mkdir(tray.path("folder"))
            with open(tray.path("bad.txt"), "wb") as f:
                f.write(b"%s\n127.0.0.1:99999\n" % board.encode())
            cases = [
                ([], "no boards: give ADDRESS[:PORT] or --boards FILE"),
                (["--image", "missing.bin", board],
                 "cannot read the image missing.bin (missing, unreadable or no regular file)"),
                (["--image", "folder", board],
                 "cannot read the image folder (missing, unreadable or no regular file)"),
                (["--verbose", board], "unknown option --verbose"),
                (["--jobs", "0", board], "--jobs takes a number 1-256, not 0"),
                (["--boards", "missing.txt"], "cannot read the board file missing.txt "
                 "(missing, unreadable or no regular file)"),
                (["--boards", "bad.txt"],
                 "bad.txt:2: \"99999\" is no port (1-65535) in \"127.0.0.1:99999\""),
                ([board, board], "board %s is listed twice" % board),
            ]
            for args, complaint in cases:
                with self.subTest(args=args):
                    out, err, status = run_many(args, cwd=tray.dir)
                    self.assertEqual(status, 2)
                    self.assertEqual(out, b"")
                    self.assertEqual(err.decode("latin-1").splitlines()[0],
                                     "tcpflash-many: " + complaint)
            self.assertEqual([name for name in os.listdir(tray.dir)
                              if name.startswith(("tcpflash-many-", "logs"))], [])
            self.assertNotIn("sim: connect", tray.sims[0].log())

    def test_interrupt_or_hangup_lets_running_boards_finish_and_still_reports(self):
        # Ctrl-C, or the operator's terminal closing (SIGHUP), alike.
        native_only("signals are sent natively")
        for sig in (signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name), contextlib.ExitStack() as stack:
                tray = Tray(stack, [()] * 3, extra=("--delay", "100"))
                with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                    many = start_many(["--image", IMAGE_NAME, "--jobs", "1", "--log-dir", "logs"] +
                                      tray.boards(), cwd=tray.dir, stdout=out, stderr=err)
                    try:
                        wait_for_connect(self, tray.sims[0])
                        many.send_signal(sig)
                        status = many.wait(timeout=MANY_TIMEOUT_S)
                    finally:
                        if many.poll() is None:
                            many.kill()
                            many.wait()
                    out.seek(0)
                    err.seek(0)
                    self.assertIn(b"3 boards: 1 flashed, 0 failed, 2 not started\n", out.read())
                    self.assertIn(b"tcpflash-many: stopping", err.read())
                self.assertEqual(status, 1)
                report = tray.report()
                self.assertTrue(report["interrupted"])
                self.assertEqual((report["flashed"], report["not_started"]), (1, 2))
                self.check_flashed(tray, 0, report)
                for i in (1, 2):
                    entry = by_board(report)[tray.boards()[i]]
                    self.assertEqual((entry["verdict"], entry["exit_status"], entry["log"]),
                                     ("not started: the run was stopped first", None, None))
                    self.assertNotIn("sim: connect", tray.sims[i].log())

    def test_closed_standard_streams_stay_out_of_the_records(self):
        # Started with standard output closed (and once with all three), the
        # first file opened would take its descriptor.
        native_only("descriptors are closed natively")
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [(), ()])
            for i, closed in enumerate([(1,), (0, 1, 2)]):
                with self.subTest(closed=closed):
                    many = start_many(["--image", IMAGE_NAME, "--log-dir", "logs-%d" % i,
                                       tray.boards()[i]], cwd=tray.dir,
                                      preexec_fn=lambda fds=closed: [os.close(fd) for fd in fds])
                    self.assertEqual(many.wait(timeout=MANY_TIMEOUT_S), 0)
                    with open(tray.path("logs-%d" % i, "report.json"), "rb") as f:
                        raw = f.read()
                    self.assertNotIn(b"tcpflash-many:", raw)
                    self.check_flashed(tray, i, json.loads(raw.decode("utf-8")),
                                       folder="logs-%d" % i)

    def test_report_is_replaced_whole(self):
        # A reader polling the report's path finds the old report or the new
        # one, never a part: the report is written beside it and renamed.
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [()] * 2, extra=("--delay", "50"))
            with open(tray.path("r.json"), "wb") as f:
                f.write(b'{"old": true}\n')
            seen, bad, stop = set(), [], threading.Event()

            def poll():
                while not stop.is_set():
                    with open(tray.path("r.json"), "rb") as f:
                        raw = f.read()
                    try:
                        seen.add("old" if "old" in json.loads(raw.decode("utf-8")) else "new")
                    except ValueError:
                        bad.append(raw)
                    time.sleep(0.001)

            reader = threading.Thread(target=poll, daemon=True)
            reader.start()
            try:
                out, err, status = run_many(["--image", IMAGE_NAME, "--jobs", "1", "--log-dir",
                                             "logs", "--report", "r.json"] + tray.boards(),
                                            cwd=tray.dir, timeout=MANY_TIMEOUT_S)
            finally:
                stop.set()
                reader.join()
            self.assertEqual(status, 0, out + err)
            self.assertEqual(bad[:1], [])
            self.assertIn("old", seen)
            self.assertEqual(tray.report("r.json")["flashed"], 2)
            self.assertFalse(os.path.exists(tray.path("r.json.partial")))

    def test_full_file_system_for_the_logs(self):
        # A log that lost bytes is no record: the board is flashed, the run
        # is not a success.
        native_only("a tmpfs is mounted natively")
        if os.geteuid() != 0:
            self.skipTest("mounting a tmpfs needs root")
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [()])
            mount = tray.path("small")
            os.mkdir(mount)
            if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tcpflash-test", mount],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
                self.skipTest("no tmpfs could be mounted here")
            try:
                os.mkdir(os.path.join(mount, "logs"))
                with open(os.path.join(mount, "filler"), "wb", buffering=0) as f:
                    with self.assertRaises(OSError):
                        while True:
                            f.write(b"\0" * 4096)
                out, err, status = run_many(["--image", IMAGE_NAME, "--log-dir", "small/logs",
                                             "--report", "r.json"] + tray.boards(), cwd=tray.dir,
                                            timeout=MANY_TIMEOUT_S)
            finally:
                subprocess.run(["umount", mount])
            self.assertEqual(status, 1, out + err)
            board = tray.boards()[0]
            # Every record of the board: its console log and its event lines.
            for suffix in (".log", ".events.jsonl"):
                record = "small/logs/127.0.0.1_%d%s" % (tray.sims[0].port, suffix)
                self.assertIn(b"tcpflash-many: writing %s failed" % record.encode(), err)
            self.assertIn(b"%s: its records in small/logs are incomplete" % board.encode(), out)
            report = tray.report("r.json")
            entry = by_board(report)[board]
            self.assertEqual((entry["flashed"], entry["exit_status"], entry["log_complete"]),
                             (True, 0, False))
            self.assertEqual((report["flashed"], report["exit_status"]), (1, 1))
            self.assertTrue(tray.received_image(0) == IMAGE)

    def test_paths_of_any_bytes_make_valid_json(self):
        # Bytes that are no UTF-8 in the image's and the log folder's names.
        native_only("file names of raw bytes are a native affair")
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [()])
            image = os.fsdecode(b"lat\xe9.bin")
            logs = os.fsdecode(b"logs-\xff")
            os.rename(tray.path(IMAGE_NAME), tray.path(image))
            out, err, status = run_many(["--image", image, "--log-dir", logs] + tray.boards(),
                                        cwd=tray.dir, timeout=MANY_TIMEOUT_S)
            self.assertEqual(status, 0, out + err)
            report = tray.report(os.path.join(logs, "report.json"))
            self.assertEqual((report["image"]["name"], report["log_dir"]),
                             ("lat\u00e9.bin", "logs-\u00ff"))
            self.assertTrue(by_board(report)[tray.boards()[0]]["flashed"])

    def test_board_timeout_stops_a_hanging_board(self):
        # Also under Wine: a board's tcpflash.exe is ended by TerminateProcess.
        # The board never reports its state: tcpflash would wait 30 s. The
        # limit leaves Wine's slow starts ample time to get there.
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [(), ("--silent-at", "state")])
            out, err, status = run_many(["--image", IMAGE_NAME, "--board-timeout", "10",
                                         "--log-dir", "logs"] + tray.boards(), cwd=tray.dir,
                                        timeout=MANY_TIMEOUT_S)
            self.assertEqual(status, 1, out + err)
            report = tray.report()
            self.check_flashed(tray, 0, report)
            entry = by_board(report)[tray.boards()[1]]
            self.assertEqual((entry["ending"], entry["exit_status"], entry["verdict"]),
                             ("timed out", None,
                              "failed: no end after 10 s, stopped while flashing"))
            self.assertGreaterEqual(entry["seconds"], 10)
            self.assertIn(console_text("Starting Flash ok\n"), tray.log(1))

    def test_live_lines_on_a_terminal(self):
        native_only("a pseudo terminal is a native affair")
        with contextlib.ExitStack() as stack:
            # A link of 2 MB/s: the image takes seconds beyond what the
            # connection buffers, and the share sent grows on the screen.
            tray = Tray(stack, [(), ()], extra=("--link-kbps", "2000"))
            master, slave = pty.openpty()
            chunks = []

            def drain():
                while True:
                    try:
                        data = os.read(master, 4096)
                    except OSError:  # the terminal's last writer has gone
                        return
                    if not data:
                        return
                    chunks.append(data)

            reader = threading.Thread(target=drain, daemon=True)
            reader.start()
            try:
                env = dict(os.environ, TERM="xterm")
                many = start_many(["--image", IMAGE_NAME, "--log-dir", "logs"] + tray.boards(),
                                  cwd=tray.dir, stdout=slave, stderr=subprocess.DEVNULL, env=env)
                os.close(slave)
                status = many.wait(timeout=MANY_TIMEOUT_S)
                reader.join(harness.RUN_TIMEOUT_S)
            finally:
                os.close(master)
            self.assertEqual(status, 0)
            screen = b"".join(chunks).decode("latin-1")
            # Three lines (two boards and the counts) redrawn in place.
            self.assertGreaterEqual(screen.count("\r\x1b[3A"), 2)
            for board in tray.boards():
                self.assertRegex(screen, r"%s +connecting" % re.escape(board))
                shares = [int(p) for p in re.findall(r"%s +sending (\d+)%%" % re.escape(board),
                                                     screen)]
                self.assertTrue(any(1 <= p <= 99 for p in shares), shares)
                self.assertEqual(shares, sorted(shares))
                self.assertRegex(screen, r"%s +done +\d+\.\d s  flashed\x1b\[K" % re.escape(board))
            self.assertIn("2 boards: 2 flashed, 0 failed, 0 running, 0 waiting", screen)
            self.assertIn("2 boards: 2 flashed, 0 failed, 0 not started", screen)

    def test_a_board_that_stops_taking_the_image_tells_the_share_it_took(self):
        native_only("the Windows build runs the small tray")
        # Far more than the connection buffers: the hang-up at frame 20000
        # (15 MB) comes while tcpflash still sends.
        image = big_image(32 * 1024 * 1024 + 5)
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [("--hangup-at", "data:20000")], image=image)
            out, err, status = run_many(["--image", IMAGE_NAME, "--log-dir", "logs"] +
                                        tray.boards(), cwd=tray.dir, timeout=MANY_TIMEOUT_S)
            self.assertEqual(status, 1, out + err)
            entry = tray.report()["boards"][0]
            received = tray.received_image(0)
            self.assertTrue(0 < len(received) < len(image))
            share = entry["percent_sent"]
            # tcpflash counts what it handed to the connection: what the board
            # took and what the buffers held when it hung up.
            self.assertIsInstance(share, int)
            self.assertGreaterEqual(share, len(received) * 100 // len(image))
            self.assertLess(share, 100)
            self.assertEqual((entry["verdict"], entry["failure"], entry["exit_status"]),
                             ("failed: image transfer broke off (while sending, %d%% sent)"
                              % share, "write", 255))
            progress = [e for e in tray.events(0) if e["event"] == "progress"]
            self.assertEqual(share, progress[-1]["sent"] * 100 // progress[-1]["total"])
            self.assertIn(console_text(" failed: image transfer broke off (while sending, %d%% "
                                       "sent)" % share), out)

    def test_what_a_board_reports_cannot_steer_the_verdict(self):
        # Also under Wine: the events arrive with Windows line ends there.
        # The loader's version text holds what tcpflash prints when things
        # fail or move on, quotes, a backslash, line ends and bytes above
        # 0x7F, stuffing bytes included.
        text = b'Write err\r\nClose ok\nNo Device found"\\\x80\xe9\xfd\xfe\xff'
        escaped = "".join("\\x%02x" % b if b < 0x20 or b > 0x7E or b == 0x5C else chr(b)
                          for b in text)
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [()], extra=("--loader-version", escaped))
            out, err, status = run_many(["--image", IMAGE_NAME, "--log-dir", "logs"] +
                                        tray.boards(), cwd=tray.dir, timeout=MANY_TIMEOUT_S)
            self.assertEqual(status, 0, out + err)
            self.assertIn(b"Write err", tray.log(0))  # as tcpflash printed it
            # json.loads is strict: the whole report must be valid JSON.
            report = tray.report()
            self.check_flashed(tray, 0, report, loader_version=text.decode("latin-1"))
            self.assertEqual(report["boards"][0]["phase"], "closing")
            versions = [e["text"] for e in tray.events(0) if e["event"] == "version"]
            self.assertEqual(versions, [text.decode("latin-1")])

    def test_verify_tells_a_board_that_does_not_come_back(self):
        # Also under Wine: the boot check's bound and exit status 2 there.
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [("--until-boot", "--new-version", "NEW02"), ("--no-boot",)])
            out, err, status = run_many(["--image", IMAGE_NAME, "--verify", "--boot-timeout", "5",
                                         "--log-dir", "logs"] + tray.boards(), cwd=tray.dir,
                                        timeout=MANY_TIMEOUT_S)
            self.assertEqual(status, 1, out + err)
            report = tray.report()
            self.assertTrue(report["verify"])
            self.assertEqual((report["flashed"], report["failed"], report["exit_status"]),
                             (1, 1, 1))
            back, gone = (by_board(report)[b] for b in tray.boards())
            self.assertEqual((back["flashed"], back["verified"], back["exit_status"],
                              back["application_version_after"], back["verdict"]),
                             (True, True, 0, "NEW02", "flashed, runs version NEW02"))
            self.assertEqual(tray.received_image(0), IMAGE)
            self.assertEqual(tray.sims[0].wait()[1], 0, "the board's boot check was served")
            self.assertEqual((gone["flashed"], gone["verified"], gone["exit_status"],
                              gone["failure"], gone["application_version_after"]),
                             (False, False, 2, "boot", None))
            self.assertEqual(gone["verdict"],
                             "failed: did not start its application (while verifying)")
            # The image went out whole all the same: exit 2 is a board that
            # was flashed but does not run.
            self.assertEqual(tray.received_image(1), IMAGE)
            self.assertIn(console_text(
                "The board did not start its application within 5 s\r\n"), tray.log(1))

    def test_an_image_rewritten_between_two_boards_fails_the_later_one(self):
        native_only("the Windows build runs the small tray")
        with contextlib.ExitStack() as stack:
            # The first board stays busy flashing for seconds after the image
            # went out: time to rewrite the file before the second starts.
            tray = Tray(stack, [("--busy", "12"), ()])
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                many = start_many(["--image", IMAGE_NAME, "--jobs", "1", "--log-dir", "logs"] +
                                  tray.boards(), cwd=tray.dir, stdout=out, stderr=err)
                try:
                    deadline = time.monotonic() + harness.RUN_TIMEOUT_S
                    while "start-flash" not in tray.sims[0].log():
                        self.assertLess(time.monotonic(), deadline, "first board never flashed")
                        self.assertIsNone(many.poll(), "tcpflash-many ended early")
                        time.sleep(0.05)
                    # Same size, other bytes: only the hash tells.
                    with open(tray.path(IMAGE_NAME), "r+b") as f:
                        f.write(bytes(b ^ 0xFF for b in IMAGE[:4096]))
                    status = many.wait(timeout=MANY_TIMEOUT_S)
                finally:
                    if many.poll() is None:
                        many.kill()
                        many.wait()
            self.assertEqual(status, 1)
            report = tray.report()
            self.check_image_facts(report)  # the bytes hashed at the start
            self.check_flashed(tray, 0, report, busy=12)
            later = by_board(report)[tray.boards()[1]]
            self.assertEqual((later["flashed"], later["exit_status"], later["failure"],
                              later["verdict"]),
                             (False, 1, "image-mismatch",
                              "failed: image does not match its SHA-256 (while connecting)"))
            self.assertNotIn("sim: connect", tray.sims[1].log())
            self.assertIn(b"Image does not match the expected SHA-256\n", tray.log(1))

    def test_info_asks_every_board_and_changes_nothing(self):
        native_only("the Windows build runs the small tray")
        with contextlib.ExitStack() as stack:
            tray = Tray(stack, [("--mode", "1"), (), ("--refuse", "loader-query")])
            os.remove(tray.path(IMAGE_NAME))  # none needed
            out, err, status = run_many(["--info", "--log-dir", "logs"] + tray.boards(),
                                        cwd=tray.dir, timeout=MANY_TIMEOUT_S)
            self.assertEqual(status, 1, out + err)
            report = tray.report()
            self.assertEqual((report["image"], report["info"], report["answered"],
                              report["flashed"], report["failed"]), (None, True, 2, 0, 1))
            app, loader, refusing = (by_board(report)[b] for b in tray.boards())
            self.assertEqual((app["mode"], app["application_version"], app["loader_version"],
                              app["exit_status"], app["verdict"], app["flashed"]),
                             (1, "SIM01", None, 0, "answered", False))
            self.assertEqual((loader["mode"], loader["application_version"],
                              loader["loader_version"], loader["exit_status"]),
                             (2, None, harness.SIM_LOADER_VERSION, 0))
            self.assertEqual((refusing["exit_status"], refusing["failure"]), (255, "no-device"))
            text = out.decode("latin-1")
            self.assertRegex(text, r"(?m)^board +exit +mode +version +verdict +time$")
            self.assertRegex(text, r"(?m)^%s +0 +1 +SIM01 +answered +\d+\.\d s$"
                             % re.escape(tray.boards()[0]))
            self.assertRegex(text, r"(?m)^%s +0 +2 +SIM-LOADER 1\.0 +answered +\d+\.\d s$"
                             % re.escape(tray.boards()[1]))
            self.assertIn("3 boards: 2 answered, 1 failed, 0 not started", text)
            for i, sim in enumerate(tray.sims):
                with self.subTest(board=i):
                    # Nothing but the questions reached the board.
                    steps = set(re.findall(r"sim: ([a-z-]+):\d+", sim.log()))
                    self.assertTrue(steps <= {"app-query", "app-version", "loader-query",
                                              "loader-version"}, steps)
                    self.assertEqual(tray.received_image(i), b"")


if __name__ == "__main__":
    harness.main()

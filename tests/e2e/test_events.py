"""The event stream of --events, end to end: the real tcpflash against
tcpflash-sim, its events read back with a strict JSON parser."""

import concurrent.futures
import os
import subprocess
import unittest

import harness
from harness import (check_events, flash_into_sim, make_image, of_kind, parse_events,
                     read_events, refusing_port, run_tool, start_sim, workdir)

PHASES_FROM_APPLICATION = ["switching", "loader", "sending", "flashing", "resetting", "closing"]
STEPS = [("reset-flashdata", True), ("set-offset", True), ("start-flash", True),
         ("reset", True), ("close", True)]


class EventsTest(unittest.TestCase):
    def check_whole_update(self, run, image, phases):
        self.assertEqual(run.status, 0)
        result = check_events(self, run.events, run.status)
        self.assertTrue(result["flashed"])
        start = run.events[0]
        self.assertEqual(start["event"], "start")
        self.assertEqual((start["tool"], start["address"], start["port"], start["image"],
                          start["size"]),
                         ("tcpflash", "127.0.0.1", run.port, "image.uncompressed", len(image)))
        self.assertEqual([e["phase"] for e in of_kind(run.events, "phase")], phases)
        self.assertEqual([(e["step"], e["ok"]) for e in of_kind(run.events, "step")], STEPS)
        progress = [(e["sent"], e["total"]) for e in of_kind(run.events, "progress")]
        sent = [p[0] for p in progress]
        self.assertEqual(sent, sorted(sent), "progress went back")
        self.assertEqual(progress[-1], (len(image), len(image)))
        return result

    def test_update_from_application_mode(self):
        image = make_image(300 * 750 + 5)
        run = flash_into_sim(image, ["--mode", "1", "--quiet"], events=True)
        self.check_whole_update(run, image, PHASES_FROM_APPLICATION)
        self.assertEqual([e["mode"] for e in of_kind(run.events, "mode")], [1, 2])
        self.assertEqual([e["attempt"] for e in of_kind(run.events, "connected")], [1, 1])
        self.assertEqual([(e["of"], e["text"]) for e in of_kind(run.events, "version")],
                         [("application", "SIM01"), ("loader", harness.SIM_LOADER_VERSION)])
        # The events never touch the transcript: the same run without them
        # prints the same bytes.
        plain = flash_into_sim(image, ["--mode", "1", "--quiet"])
        self.assertEqual(run.out.replace(b"port %d" % run.port, b"port P"),
                         plain.out.replace(b"port %d" % plain.port, b"port P"))

    def test_update_from_loader_mode_on_standard_error(self):
        # "--events -" shares standard error with nothing: the progress line
        # stays off even when asked for.
        image = make_image(3000)
        with workdir(image) as path:
            with start_sim(["--mode", "2"]) as sim:
                proc = subprocess.run(
                    harness.tool_command(["--events", "-", "--progress", "on", "127.0.0.1",
                                          sim.port]),
                    cwd=path, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE, timeout=harness.RUN_TIMEOUT_S)
        run = harness.SimRun(proc.stdout, harness.exit_status(proc.returncode), None, None,
                             sim.port, parse_events(proc.stderr))
        self.check_whole_update(run, image, PHASES_FROM_APPLICATION[1:])
        self.assertEqual([e["mode"] for e in of_kind(run.events, "mode")], [2])

    def test_every_byte_of_a_version_text_reads_back(self):
        # The board's version text goes into the events as it came: a strict
        # JSON parser must read back every byte 0-255 as its code point.
        chunks = [bytes(range(start, min(start + 45, 256))) for start in range(0, 256, 45)]

        def run_chunk(chunk):
            text = "".join("\\x%02x" % b for b in chunk)
            return flash_into_sim(make_image(100), ["--mode", "2", "--loader-version", text],
                                  events=True)

        with concurrent.futures.ThreadPoolExecutor(max_workers=len(chunks)) as pool:
            runs = list(pool.map(run_chunk, chunks))
        for chunk, run in zip(chunks, runs):
            with self.subTest(first=chunk[0]):
                check_events(self, run.events, run.status)
                versions = of_kind(run.events, "version")
                self.assertEqual([v["text"] for v in versions], [chunk.decode("latin-1")])

    def test_every_early_end_names_its_failure(self):
        cases = [
            # (failure, tool args, stdin, sim args or None, image)
            ("usage", ["1" * 21, "6666"], b"", None, b"x"),
            ("no-address", [], b"", None, b"x"),
            # Any valid port: the image is looked for before any connection.
            ("no-image", ["127.0.0.1", 1], b"", None, None),
            ("connect", ["127.0.0.1", None], b"", None, b"x"),
            ("no-device", ["127.0.0.1", None], b"", ["--mode", "0"], b"x"),
            ("loader-unreachable", ["127.0.0.1", None], b"", ["--no-loader"], b"x"),
            ("not-loader", ["127.0.0.1", None], b"", ["--stay-app"], b"x"),
            # Larger than the socket buffers hold, so that a send fails.
            ("write", ["127.0.0.1", None], b"", ["--mode", "2", "--quiet", "--reset-at", "data:2"],
             harness.big_image(16 << 20)),
            # A port that is no port is refused before anything is connected.
            ("usage", ["127.0.0.1", "6666x"], b"", None, b"x"),
        ]

        def run_case(case):
            failure, args, stdin, sim_args, image = case
            with workdir(image) as path, refusing_port() as refused:
                if sim_args is None:
                    args = [refused if a is None else a for a in args]
                    # Too long an address never reaches the sockets.
                    return run_with_events(args, stdin, path, check_target=failure != "usage")
                with start_sim(sim_args) as sim:
                    args = [sim.port if a is None else a for a in args]
                    return run_with_events(args, stdin, path)

        with concurrent.futures.ThreadPoolExecutor(max_workers=len(cases)) as pool:
            outcomes = list(pool.map(run_case, cases))
        for case, (status, events) in zip(cases, outcomes):
            with self.subTest(failure=case[0]):
                result = check_events(self, events, status)
                self.assertEqual(result["failure"], case[0])
                self.assertFalse(result["flashed"])
                self.assertNotEqual(status, 0)
        # The image's size is null when it could not be opened.
        self.assertIsNone(outcomes[2][1][0]["size"])

    def test_an_unusable_address_is_its_own_failure(self):
        # "abcd" is no IPv4 address: the sockets refuse it before any packet.
        with workdir(b"x") as path:
            status, events = run_with_events(["abcd", 6666], b"", path, check_target=False)
        self.assertEqual(check_events(self, events, status)["failure"], "address")

    def test_help_and_version_write_no_events(self):
        with workdir(b"x") as path:
            for option in ("--help", "--version"):
                out, status = run_tool(["--events", "events.jsonl", option], cwd=path)
                self.assertEqual(status, 0)
                self.assertFalse(os.path.exists(os.path.join(path, "events.jsonl")))


def run_with_events(args, stdin, cwd, check_target=True):
    """Runs the tool with --events into a file in cwd. Returns (status,
    events)."""
    events_path = os.path.join(cwd, "events.jsonl")
    args = ["--events", events_path] + [str(a) for a in args]
    if check_target:
        out, status = run_tool(args, stdin=stdin, cwd=cwd)
    else:
        proc = subprocess.run(harness._command(harness._config.tool, args), input=stdin, cwd=cwd,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=harness.RUN_TIMEOUT_S)
        out, status = proc.stdout + proc.stderr, harness.exit_status(proc.returncode)
    events = read_events(events_path)
    if not events:
        raise AssertionError("no events; status %d, output %r" % (status, out))
    return status, events


if __name__ == "__main__":
    harness.main()

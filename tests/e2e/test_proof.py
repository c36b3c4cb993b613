"""Proving an update, end to end: the image the operator chose (its SHA-256,
a file rewritten during the transfer), a board that runs it afterwards
(--verify, --expect-version, --skip-current), what a board runs (--info) and
a board that stays busy for ever (--ready-timeout)."""

import concurrent.futures
import hashlib
import os
import re
import subprocess
import time
import unittest

import harness
from harness import check_events, console_text, flash_into_sim, make_image, start_sim, workdir

IMAGE = make_image(20 * 750 + 9)
SHA256 = hashlib.sha256(IMAGE).hexdigest()
MINUS_ONE = harness.exit_status(-1)


def steps(log):
    """The frames the simulator took, by step name, in order."""
    return re.findall(r"^sim: ([a-z-]+):\d+ ", log, re.M)


def proof_run(sim_args, tool_args, image=IMAGE):
    return flash_into_sim(image, ["--reboot-ms", "300", "--quiet"] + sim_args,
                          tool_args=tool_args, events=True, wait_sim=False)


class ProofTest(unittest.TestCase):
    def assertEnds(self, out, text):
        self.assertTrue(out.endswith(console_text(text)), out[-400:])

    def test_boot_check_outcomes(self):
        # (sim args, tool args, status, failure, last line, version after)
        cases = [
            (["--until-boot", "--new-version", "V2.00"], ["--expect-version", "V2.00"], 0, None,
             "Board runs its application, version V2.00\r\n", "V2.00"),
            (["--until-boot"], ["--verify"], 0, None,
             "Board runs its application, version SIM01\r\n", "SIM01"),
            (["--until-boot"], ["--expect-version", "V2.00"], 2, "version-mismatch",
             "Board runs version SIM01, not V2.00\r\n", "SIM01"),
            (["--until-boot", "--boot-into-loader"], ["--verify"], 2, "boot-loader",
             "The board started its update loader again, not its application\r\n", None),
            (["--no-boot"], ["--verify", "--boot-timeout", "3"], 2, "boot",
             "The board did not start its application within 3 s\r\n", None),
        ]
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(cases)) as pool:
            started = time.monotonic()
            runs = list(pool.map(lambda c: proof_run(c[0], c[1]), cases))
            elapsed = time.monotonic() - started
        for (sim_args, tool_args, status, failure, last, after), run in zip(cases, runs):
            with self.subTest(sim=sim_args, tool=tool_args):
                self.assertEqual(run.status, status, run.out[-400:])
                self.assertEqual(run.received, IMAGE, "the image went out whole")
                self.assertEnds(run.out, last)
                self.assertIn(console_text("Close ok\nChecking that the board starts its "
                                           "application..."), run.out)
                result = check_events(self, run.events, run.status)
                self.assertEqual((result["failure"], result["flashed"]),
                                 (failure, status == 0))
                self.assertEqual(result["application_version_after"], after)
                self.assertFalse(result["skipped"])
                self.assertIn("verifying", [e["phase"] for e in harness.of_kind(run.events,
                                                                                  "phase")])
        # The board that never comes back costs the 3 s of --boot-timeout,
        # not a minute: every connection attempt is cut to the time left.
        self.assertLess(elapsed, 60)

    def test_skip_current_sends_no_switch(self):
        run = proof_run([], ["--expect-version", "SIM01", "--skip-current"])
        self.assertEqual(run.status, 0)
        self.assertEnds(run.out, "Board already runs version SIM01: no update\r\n")
        self.assertEqual(steps(run.sim_log), ["app-query", "app-version"])
        result = check_events(self, run.events, 0)
        self.assertEqual((result["skipped"], result["flashed"], result["failure"]),
                         (True, False, None))

    def test_info_sends_only_queries(self):
        for mode, taken, line in (
                ("1", ["app-query", "app-version"],
                 "Board runs its application, version SIM01\r\n"),
                ("2", ["loader-query", "loader-version"],
                 "Board runs its update loader, version %s\r\n" % harness.SIM_LOADER_VERSION)):
            with self.subTest(mode=mode):
                # No image file at all: --info needs none.
                run = flash_into_sim(None, ["--mode", mode], tool_args=["--info"], events=True,
                                     wait_sim=False)
                self.assertEqual(run.status, 0)
                self.assertEnds(run.out, line)
                self.assertEqual(steps(run.sim_log), taken)
                result = check_events(self, run.events, 0)
                self.assertEqual((result["flashed"], result["failure"]), (False, None))
                self.assertIsNone(run.events[0]["image"])

    def test_image_that_does_not_match_the_expected_hash_never_connects(self):
        with workdir(IMAGE) as path, start_sim([]) as sim:
            wrong = SHA256[:-1] + ("0" if SHA256[-1] != "0" else "1")
            out, status = harness.run_tool(["--expect-sha256", wrong, "127.0.0.1", sim.port],
                                           cwd=path)
            log = sim.log()
        self.assertEqual(status, 1)
        self.assertEnds(out, "Image does not match the expected SHA-256\n")
        self.assertNotIn("sim: connect", log)

    def test_expected_hash_either_case(self):
        for digest in (SHA256, SHA256.upper()):
            run = proof_run(["--mode", "2"], ["--expect-sha256", digest])
            self.assertEqual(run.status, 0, run.out[-300:])
            self.assertEqual(run.received, IMAGE)

    def test_file_rewritten_in_place_during_the_transfer_is_torn(self):
        # The board stalls mid-image; meanwhile the file gets other bytes of
        # the same size. Neither the offset nor the start of flashing may go
        # out.
        image = harness.big_image(24 << 20)
        with workdir(image) as path:
            with start_sim(["--mode", "2", "--quiet", "--stall-at", "data:200",
                            "--stall-ms", "4000"]) as sim:
                events_path = os.path.join(path, "events.jsonl")
                tool = subprocess.Popen(
                    harness.tool_command(["--events", events_path, "127.0.0.1", sim.port]),
                    cwd=path, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                    stderr=subprocess.DEVNULL)
                try:
                    deadline = time.monotonic() + harness.RUN_TIMEOUT_S
                    while "stalling" not in sim.log():
                        self.assertLess(time.monotonic(), deadline, "the board never stalled")
                        time.sleep(0.05)
                    with open(os.path.join(path, harness.IMAGE_NAME), "r+b") as f:
                        f.seek(len(image) - 4096)
                        f.write(bytes(b ^ 0x55 for b in image[-4096:]))
                finally:
                    out, _ = tool.communicate(timeout=harness.RUN_TIMEOUT_S)
                status = harness.exit_status(tool.returncode)
                log = sim.log()
            events = harness.read_events(events_path)
        self.assertEqual(status, MINUS_ONE)
        self.assertEnds(out, "Image changed during the transfer\nWrite err\n")
        self.assertNotIn("set-offset", steps(log))
        self.assertNotIn("start-flash", steps(log))
        self.assertEqual(check_events(self, events, status)["failure"], "image-changed")

    def test_board_busy_for_ever(self):
        run = proof_run(["--mode", "2", "--busy-forever"], ["--ready-timeout", "2"])
        self.assertEqual(run.status, MINUS_ONE)
        self.assertEnds(run.out, "Device State: busy\r\n\r\nDevice not ready after 2 s: "
                        "giving up\r\n")
        self.assertEqual(check_events(self, run.events, run.status)["failure"], "not-ready")


if __name__ == "__main__":
    harness.main()

"""Fault matrix: the simulator hangs up, goes silent, babbles, stops reading
for good or drops the connection with a reset, at each step of the run in
turn. Whatever happens, the tool ends by itself, never crashes,
reports exit status 0 only when the board was flashed, its event stream
ends with one result that agrees with the exit status, and the simulator
never holds image bytes that differ from the file."""

import concurrent.futures
import unittest

import harness
from harness import check_events, console_text, flash_into_sim, make_image

IMAGE = make_image(200 * 750 + 123)  # long enough for a hang-up mid-image

# (step, mode the simulator reports first). The application steps need a
# device in application mode; the loader's mode query and loader steps are
# reached faster on a device already in loader mode, and once after a switch.
STEPS = [
    ("app-query", 1), ("app-version", 1), ("app-start", 1), ("loader-query", 1),
    ("loader-query", 2), ("loader-version", 2), ("reset-flashdata", 2), ("data:1", 2),
    ("data:100", 2), ("set-offset", 2), ("start-flash", 2), ("state", 2), ("reset", 2),
    ("close", 2),
]
# Faults after the start of flashing and the first ready report leave a
# flashed board: only those may end with 0.
FLASHED_STEPS = {"reset", "close"}
FAULTS = ["--hangup-at", "--silent-at", "--babble-at", "--stall-at", "--reset-at"]

# A silent or babbling device costs the tool its reply time-outs and the 30 s
# it waits for a state reply; the runs mostly wait, so they run side by side.
RUN_TIMEOUT_S = 150


def run_case(fault, step, mode):
    run = flash_into_sim(IMAGE, ["--mode", mode, "--quiet", fault, step], timeout=RUN_TIMEOUT_S,
                         sim_timeout_s=RUN_TIMEOUT_S + 30, wait_sim=False, events=True)
    return run.out, run.status, run.received or b"", run.events


class FaultMatrixTest(unittest.TestCase):
    def test_every_fault_at_every_step(self):
        cases = [(fault, step, mode) for fault in FAULTS for step, mode in STEPS]
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(cases)) as pool:
            results = list(pool.map(lambda c: run_case(*c), cases))
        for (fault, step, mode), (out, status, received, events) in zip(cases, results):
            with self.subTest(fault=fault, step=step, mode=mode):
                flashed = step in FLASHED_STEPS
                self.assertEqual(status, 0 if flashed else harness.exit_status(-1), out)
                self.assertEqual(check_events(self, events, status)["flashed"], flashed)
                self.assertEqual(received, IMAGE[:len(received)],
                                 "received bytes differ from the file")
                if flashed:
                    self.assertEqual(received, IMAGE)
                if step == "state":
                    # No state reply ever comes: the wait for ready gives up.
                    self.assertTrue(out.endswith(console_text(
                        "\r\nNo device state for 30 s: giving up\r\n")), out[-300:])
                    self.assertEqual(events[-1]["failure"], "no-state")


if __name__ == "__main__":
    harness.main()

"""Every wait of the tool ends: boards that drop connection requests, stop
reading, babble, trickle or answer everything, and boards that are slow but
sound. Each run must end by itself within a stated bound, with exit status 0
only when the board holds the whole image, and the simulator must never hold
bytes that differ from the file.

The cases mostly wait, so they run side by side."""

import concurrent.futures
import os
import sys
import time
import unittest

import harness
from harness import BANNER, big_image, console_text, read_image, run_tool, start_sim, workdir

MB = 1 << 20


class Case:
    """One run: the simulator's options, the image, the bound on the tool's
    run time, and what must come of it (status None: either, as long as 0
    means flashed). on_file_change, when given, is called with the image's
    path once the simulator logged a line holding its first element."""

    def __init__(self, name, sim_args, image, bound_s, status=None, tail=None,
                 min_s=0, on_file_change=None, windows=False):
        self.name = name
        self.sim_args = sim_args
        self.image = image
        self.bound_s = bound_s
        self.status = status
        self.tail = tail
        self.min_s = min_s
        self.on_file_change = on_file_change
        self.windows = windows


def cut_file(path):
    with open(path, "r+b") as f:
        f.truncate(20 * MB)


def grow_file(path):
    with open(path, "ab") as f:
        f.write(b"\x00" * 1000)


FAILED = harness.exit_status(-1)
CASES = [
    # The first connection and the reconnect: 5 s per attempt.
    Case("first connection dropped", ["--blackhole"], big_image(1000), 40, status=1,
         tail="connect err\ns error!\n", min_s=4, windows=True),
    Case("loader drops connection requests", ["--mode", 1, "--blackhole-after-switch"],
         big_image(1000), 150, status=FAILED,
         tail="Loop connect err\n" * 10 + "Loop Timeout\r\n", min_s=50, windows=True),
    # A board that stops reading for good while the image goes out: the send
    # gives up after 60 s without progress. The image outgrows the buffers.
    Case("stalled send", ["--mode", 2, "--stall-at", "data:1"], big_image(64 * MB), 200,
         status=FAILED, tail="Transfering image..Write err\n", min_s=55, windows=True),
    # Bytes that never complete a frame, or a reply one byte every 2 s: the
    # reply deadline ends the read after about 10 s.
    Case("babbling board", ["--mode", 1, "--babble-at", "app-query"], big_image(1000), 60,
         status=FAILED, tail="Timeout\r\nRead Err\nNo Device found\r\n", min_s=8, windows=True),
    Case("trickling mode reply", ["--mode", 1, "--trickle-at", "app-query", "--trickle-ms", 2000],
         big_image(1000), 60, status=FAILED, tail="Read Err\nNo Device found\r\n", min_s=8),
    Case("trickling state reply", ["--mode", 2, "--trickle-at", "state", "--trickle-ms", 2000],
         big_image(1000), 120),
    Case("babbling while flashing", ["--mode", 2, "--babble-at", "state"], big_image(1000), 120,
         status=FAILED, tail="No device state for 30 s: giving up\r\n", min_s=28),
    # Acknowledges every data frame: its replies fill its own buffers.
    Case("acknowledges everything", ["--mode", 2, "--ack-everything"], big_image(48 * MB), 200),
    # Slow but sound boards must still be flashed.
    Case("erase pause of 20 s", ["--mode", 2, "--erase-ms", 20000], big_image(48 * MB), 150,
         status=0, tail="Close ok\n", min_s=19),
    Case("replies trickled every 30 ms", ["--mode", 1, "--trickle-at", "app-query",
                                          "--trickle-ms", 30], big_image(5000), 60, status=0,
         tail="Close ok\n"),
    Case("1000 kB/s link", ["--mode", 2, "--link-kbps", 1000], big_image(3 * MB), 60, status=0,
         tail="Close ok\n", min_s=2),
    # The image file changes while the board pauses: the transfer must fail.
    Case("image cut during the transfer", ["--mode", 2, "--erase-ms", 4000], big_image(48 * MB),
         120, status=FAILED,
         tail="Image changed during the transfer\nWrite err\n",
         on_file_change=("reset-flashdata", cut_file)),
    Case("image grown during the transfer", ["--mode", 2, "--erase-ms", 4000],
         big_image(48 * MB + 17), 120, status=FAILED,
         tail="Image changed during the transfer\nWrite err\n",
         on_file_change=("reset-flashdata", grow_file)),
]


def run_case(case):
    with workdir(case.image) as path:
        received_path = os.path.join(path, "received.bin")
        sim_args = ["--quiet", "--image-out", received_path] + case.sim_args
        with start_sim(sim_args, timeout_s=case.bound_s + 60) as sim:
            started = time.monotonic()
            if case.on_file_change is None:
                out, status = run_tool(["127.0.0.1", sim.port], cwd=path, timeout=case.bound_s)
            else:
                tool = harness.start_tool(["127.0.0.1", sim.port], cwd=path)
                marker, change = case.on_file_change
                while marker not in sim.log() and tool.poll() is None:
                    time.sleep(0.05)
                time.sleep(1)  # the tool fills the socket buffers and waits
                change(os.path.join(path, harness.IMAGE_NAME))
                out, _ = tool.communicate(timeout=case.bound_s)
                status = harness.exit_status(tool.returncode)
            elapsed = time.monotonic() - started
        received = read_image(received_path, missing=b"")
    return out, status, received, elapsed


class BoundsTest(unittest.TestCase):
    def test_every_wait_ends(self):
        cases = [c for c in CASES if c.windows or not harness.on_windows()]
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(cases)) as pool:
            results = list(pool.map(run_case, cases))
        for case, (out, status, received, elapsed) in zip(cases, results):
            print("%-36s status %3d after %5.1f s" % (case.name, status, elapsed),
                  file=sys.stderr)
            with self.subTest(case.name):
                self.assertTrue(out.startswith(console_text(BANNER)), out[:200])
                if case.status is not None:
                    self.assertEqual(status, case.status, out[-400:])
                if case.tail is not None:
                    self.assertTrue(out.endswith(console_text(case.tail)), out[-400:])
                self.assertGreaterEqual(elapsed, case.min_s, "ended too soon: %r" % out[-200:])
                self.assertEqual(received, case.image[:len(received)],
                                 "received bytes differ from the file")
                if status == 0:
                    self.assertTrue(received == case.image, "exit 0 without the whole image")


if __name__ == "__main__":
    harness.main()

"""The whole update run, end to end: the real tcpflash against tcpflash-sim
on loopback, comparing the whole console output, the exit status and the
image the simulator received."""

import unittest

import harness
from harness import (app_version, connecting, console_text, flash_into_sim, loader_steps,
                     make_image, mode_query, start_sim, start_tool, switch_to_loader, workdir)


class UpdateRunTest(unittest.TestCase):
    def run_update(self, sim_args, image=None):
        """Runs the tool against a fresh simulator. Returns (output, status,
        received image or None, simulator status)."""
        run = flash_into_sim(make_image() if image is None else image, sim_args)
        self.port = run.port
        return run.out, run.status, run.received, run.sim_status

    def head(self):
        return connecting(self.port)

    def assertOutput(self, out, expected):
        self.assertEqual(out, console_text(expected))

    def test_complete_run_from_application_mode(self):
        image = make_image(7 * 750)  # a multiple of a block: closed by an empty frame
        out, status, received, sim_status = self.run_update(["--mode", "1"], image)
        self.assertOutput(out, self.head() + mode_query() + switch_to_loader() + "Loop " +
                          mode_query() + "Device found 2\r\n" + loader_steps())
        self.assertEqual(status, 0)
        self.assertEqual(received, image)
        self.assertEqual(sim_status, 0)

    def test_loader_already_running(self):
        out, status, received, _ = self.run_update(["--mode", "2"])
        self.assertOutput(out, self.head() + mode_query() + "Device found 2\r\n" +
                          loader_steps())
        self.assertEqual(status, 0)
        self.assertEqual(received, make_image())

    def test_images_of_every_block_edge_arrive_intact(self):
        # Empty, one byte, around one and two blocks, and a large one.
        for size in (0, 1, 749, 750, 751, 1500, 300 * 750 + 7):
            with self.subTest(size=size):
                image = make_image(size, seed=size)
                _, status, received, sim_status = self.run_update(["--mode", "2", "--quiet"],
                                                                  image)
                self.assertEqual(status, 0)
                self.assertEqual(sim_status, 0)
                self.assertTrue(received == image, "image of %d bytes arrived changed" % size)

    def test_output_arrives_while_the_tool_runs(self):
        # Operators follow the run through a pipe ("| tee flash.log"): each
        # text must arrive as it is printed, not when the tool ends. After
        # "Connecting to Updateloader..." ten refused attempts 100 ms apart
        # still follow.
        with workdir(make_image()) as path:
            with start_sim(["--mode", "1", "--no-loader"]) as sim:
                tool = start_tool(["127.0.0.1", sim.port], cwd=path)
                try:
                    seen = b""
                    while b"Connecting to Updateloader..." not in seen:
                        chunk = tool.stdout.read1(4096)
                        self.assertTrue(chunk, "output ended early: %r" % seen)
                        seen += chunk
                    self.assertIsNone(tool.poll(), "the text came only at the end")
                finally:
                    tool.communicate(timeout=harness.RUN_TIMEOUT_S)

    def test_any_mode_above_one_counts_as_loader(self):
        out, status, received, _ = self.run_update(["--mode", "200"])
        self.assertOutput(out, self.head() + mode_query() + "Device found 200\r\n" +
                          loader_steps())
        self.assertEqual(status, 0)

    def test_mode_zero_is_no_device(self):
        out, status, _, _ = self.run_update(["--mode", "0"])
        self.assertOutput(out, self.head() + mode_query() + "No Device found\r\n")
        self.assertEqual(status, harness.exit_status(-1))

    def test_refused_switch_goes_on_on_the_same_connection(self):
        out, status, received, _ = self.run_update(["--mode", "1", "--refuse", "app-start"])
        self.assertOutput(out, self.head() + mode_query() + "Device found 1\r\n" +
                          app_version() + "Starte Update..." + "Write Update Command ok\n" +
                          loader_steps())
        self.assertEqual(status, 0)
        self.assertEqual(received, make_image())

    def test_loader_never_comes_up(self):
        out, status, _, _ = self.run_update(["--mode", "1", "--no-loader"])
        self.assertOutput(out, self.head() + mode_query() + switch_to_loader() +
                          "Loop connect err\n" * 10 + "Loop " + "Timeout\r\n")
        self.assertEqual(status, harness.exit_status(-1))

    def test_loader_reports_application_mode_again(self):
        out, status, _, _ = self.run_update(["--mode", "1", "--stay-app"])
        self.assertOutput(out, self.head() + mode_query() + switch_to_loader() + "Loop " +
                          mode_query() + "Error starting Updateloader\r\n")
        self.assertEqual(status, harness.exit_status(-1))

    def test_busy_polls_until_ready(self):
        out, status, received, _ = self.run_update(["--mode", "2", "--busy", "3"])
        polls = "Device State: busy\r\n" * 3 + "Device State: ready\r\n"
        self.assertOutput(out, self.head() + mode_query() + "Device found 2\r\n" +
                          loader_steps(polls=polls))
        self.assertEqual(status, 0)
        self.assertEqual(received, make_image())

    def test_unconfirmed_reset_is_only_reported(self):
        out, status, received, _ = self.run_update(["--mode", "2", "--refuse", "reset"])
        self.assertOutput(out, self.head() + mode_query() + "Device found 2\r\n" +
                          loader_steps(reset_status=1))
        self.assertEqual(status, 0)
        self.assertEqual(received, make_image())

    def test_device_hangs_up_at_the_reset(self):
        # A board that restarts at once: no confirmation, and the close
        # command finds the connection gone. The board was flashed.
        out, status, received, _ = self.run_update(["--mode", "2", "--hangup-at", "reset"])
        expected = loader_steps()
        expected = expected[:expected.index("\r\nDev reset\r\n")]
        self.assertOutput(out, self.head() + mode_query() + "Device found 2\r\n" + expected +
                          "\r\nDev reset\r\n" + "Timeout\r\n" + "Ack Frame received: 0\r\n" +
                          " Error Restarting Device\r\n" + "Close err\n")
        self.assertEqual(status, 0)
        self.assertEqual(received, make_image())


if __name__ == "__main__":
    harness.main()

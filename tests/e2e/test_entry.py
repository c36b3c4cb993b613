"""Program entry, end to end: banner, target selection, image file and a
refused connection, with the exact console output and exit status."""

import os
import socket
import unittest

import harness
from harness import BANNER, PROMPT, console_text, refusing_port, run_tool, workdir


class EntryTest(unittest.TestCase):
    def test_refused_connection(self):
        with refusing_port() as port:
            out, status = run_tool(["127.0.0.1", port])
        expected = (BANNER + "Connecting to 127.0.0.1 port %d\r\n" % port +
                    "connect err\n" + "s error!\n")
        self.assertEqual(out, console_text(expected))
        self.assertEqual(status, 1)

    def test_no_image_file(self):
        with refusing_port() as port:
            out, status = run_tool(["127.0.0.1", port], image=None)
        self.assertEqual(out, console_text(BANNER + "Cannot open image.uncompressed\n"))
        self.assertEqual(status, 1)

    def test_image_that_is_no_regular_file(self):
        # A directory, a FIFO (opening it would wait for a writer) or a device
        # (endless bytes) is refused before anything touches the network.
        kinds = {"directory": os.mkdir}
        if not harness.on_windows():
            kinds["fifo"] = os.mkfifo
            kinds["device"] = lambda path: os.symlink("/dev/zero", path)
        for kind, make in kinds.items():
            with self.subTest(kind=kind), workdir(image=None) as path, \
                    refusing_port() as port:
                make(os.path.join(path, harness.IMAGE_NAME))
                out, status = run_tool(["127.0.0.1", port], cwd=path, timeout=30)
                self.assertEqual(out, console_text(BANNER + "Cannot open image.uncompressed\n"))
                self.assertEqual(status, 1)

    def test_image_named_on_the_command_line(self):
        with workdir(image=None) as path, refusing_port() as port:
            out, status = run_tool(["--image", "fw.bin", "127.0.0.1", port], cwd=path)
            self.assertEqual(out, console_text(BANNER + "Cannot open fw.bin\n"))
            self.assertEqual(status, 1)
            with open(os.path.join(path, "fw.bin"), "wb") as f:
                f.write(b"\x01" * 10)
            out, status = run_tool(["127.0.0.1", "--image", "fw.bin", port], cwd=path)
            self.assertEqual(out, console_text(BANNER + "Connecting to 127.0.0.1 port %d\r\n"
                                               % port + "connect err\n" + "s error!\n"))

    def test_help_version_and_bad_usage_touch_no_network(self):
        for args in (["--help"], ["-h"], ["/?"]):
            out, status = run_tool(args)
            self.assertEqual(status, 0)
            self.assertIn(console_text("usage: tcpflash"), out)
            self.assertIn(console_text("Exit status:"), out)
        out, status = run_tool(["--version"])
        self.assertEqual(status, 0)
        self.assertRegex(out, rb"^tcpflash \d+\.\d+\.\d+")
        out, status = run_tool(["--frobnicate", "127.0.0.1", "1"])
        self.assertEqual((out, status), (b"", 1))

    def test_address_and_port_forms_that_name_other_targets_are_refused(self):
        # The C library reads 127.0.0.010 as 127.0.0.8 and 127.1 as
        # 127.0.0.1; a port past 65535 kept its low 16 bits, "Pjunk" was P.
        # Listeners on every target those readings name show that the tool
        # connects to none of them.
        listeners = []
        try:
            for host in ("127.0.0.1", "127.0.0.8"):
                s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                listeners.append(s)
                s.bind((host, listeners[0].getsockname()[1] if listeners[1:] else 0))
                s.listen(4)
                s.setblocking(False)
            port = listeners[0].getsockname()[1]
            cases = [
                (["127.0.0.010", port], "Connecting to 127.0.0.010 port %d\r\ns err\ns error!\n"
                 % port),
                (["127.1", port], "Connecting to 127.1 port %d\r\ns err\ns error!\n" % port),
                (["127.0.0.1", port + 65536],
                 "Invalid port %d: a port is 1 to 65535\n" % (port + 65536)),
                (["127.0.0.1", "%djunk" % port],
                 "Invalid port %djunk: a port is 1 to 65535\n" % port),
                (["127.0.0.1", "0"], "Invalid port 0: a port is 1 to 65535\n"),
            ]
            for args, tail in cases:
                with self.subTest(args=args):
                    out, status = run_tool(args)
                    self.assertEqual(out, console_text(BANNER + tail))
                    self.assertEqual(status, 1)
            for s in listeners:
                with self.assertRaises(BlockingIOError, msg="a connection came in"):
                    s.accept()
        finally:
            for s in listeners:
                s.close()

    def test_prompt_asks_again_until_input_ends(self):
        # Words of 4 to 6 characters are asked for again; end of input stops.
        out, status = run_tool([], stdin=b"1.2.3\nabcd 10.0.1\n")
        expected = BANNER + PROMPT * 4 + "\nNo address entered: end of input\n"
        self.assertEqual(out, console_text(expected))
        self.assertEqual(status, 1)


if __name__ == "__main__":
    harness.main()

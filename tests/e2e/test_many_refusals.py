"""tcpflash-many's refusals end to end: every usage error ends with exit
status 2 before anything starts: no board is connected, no log folder or
report is made and the image is left as it was."""

import contextlib
import os
import unittest

import harness
from harness import run_many, start_sim

IMAGE_NAME = "fw.bin"
IMAGE = b"\x5a" * 3000


class RefusalTest(unittest.TestCase):
    def test_every_usage_error_starts_nothing(self):
        with contextlib.ExitStack() as stack:
            work = stack.enter_context(harness.workdir(image=None))
            sim = stack.enter_context(start_sim(["--mode", "2", "--quiet"]))
            board = "127.0.0.1:%d" % sim.port
            port = sim.port

            def write(name, data):
                with open(os.path.join(work, name), "wb") as f:
                    f.write(data)

            write(IMAGE_NAME, IMAGE)
            write("empty.bin", b"")
            write("tray.txt", b"%s\n" % board.encode())
            write("zeros.txt", b"# tray\n\x00%s\n127.0.0.1:1\n" % board.encode())
            write("big.txt", b"\n" * (1 << 20) + b"%s\n" % board.encode())
            os.mkdir(os.path.join(work, "sub"))
            image_stat = os.stat(os.path.join(work, IMAGE_NAME))

            log = "logs/127.0.0.1_%d" % port
            cases = [
                # The outputs must never overwrite what the run reads.
                (["--report", IMAGE_NAME, board],
                 "the report fw.bin would overwrite the image fw.bin"),
                (["--report", "sub/../fw.bin", board],
                 "the report sub/../fw.bin would overwrite the image fw.bin"),
                (["--report", "fw.bin/r.json", board],
                 "the report fw.bin/r.json lies inside the image fw.bin"),
                (["--log-dir", IMAGE_NAME, board], "the log folder fw.bin is the image fw.bin"),
                (["--log-dir", "fw.bin/logs", board],
                 "the log folder fw.bin/logs lies inside the image fw.bin"),
                (["--log-dir", "logs", "--report", log + ".log", board],
                 "the report %s.log is the record 127.0.0.1_%d.log of board %s in the log "
                 "folder" % (log, port, board)),
                (["--log-dir", "logs", "--report", log + ".stderr.log", board],
                 "the report %s.stderr.log is the record 127.0.0.1_%d.stderr.log of board %s in "
                 "the log folder" % (log, port, board)),
                (["--log-dir", "logs", "--report", log + ".events.jsonl", board],
                 "the report %s.events.jsonl is the record 127.0.0.1_%d.events.jsonl of board %s "
                 "in the log folder" % (log, port, board)),
                (["--log-dir", "logs", "--report", "logs", board], "the report logs is a folder"),
                (["--boards", "tray.txt", "--report", "tray.txt"],
                 "the report tray.txt would overwrite the board file tray.txt"),
                (["--image", "empty.bin", board], "the image is empty: empty.bin"),
                # Board files: text of bounded size in a regular file.
                (["--boards", "zeros.txt"], "zeros.txt:2: a NUL byte: no board file of text"),
                (["--boards", "big.txt"], "big.txt: larger than 1048576 bytes: no board file"),
                # Addresses and ports as tcpflash reads them: the C library
                # would take these for 127.0.0.1, 127.0.0.8 and port 7.
                (["127.000.000.001:%d" % port],
                 "\"127.000.000.001\" is no IPv4 address (four numbers 0-255 without leading "
                 "zeros)"),
                (["127.0.0.010:%d" % port],
                 "\"127.0.0.010\" is no IPv4 address (four numbers 0-255 without leading zeros)"),
                (["127.1:%d" % port],
                 "\"127.1\" is no IPv4 address (four numbers 0-255 without leading zeros)"),
                ([board, "127.0.0.1:+%d" % port],
                 "\"+%d\" is no port (1-65535) in \"127.0.0.1:+%d\"" % (port, port)),
                (["127.0.0.1:%d" % (port + 65536)],
                 "\"%d\" is no port (1-65535) in \"127.0.0.1:%d\"" % (port + 65536, port + 65536)),
                (["127.0.0.1:%dx" % port],
                 "\"%dx\" is no port (1-65535) in \"127.0.0.1:%dx\"" % (port, port)),
            ]
            if not harness.on_windows():
                os.mkfifo(os.path.join(work, "fifo.txt"))
                os.symlink(IMAGE_NAME, os.path.join(work, "link.json"))
                no_file = " (missing, unreadable or no regular file)"
                cases += [
                    (["--boards", "fifo.txt"], "cannot read the board file fifo.txt" + no_file),
                    (["--boards", "/dev/zero"], "cannot read the board file /dev/zero" + no_file),
                    (["--report", "link.json", board],
                     "the report link.json would overwrite the image fw.bin"),
                ]
            for args, complaint in cases:
                with self.subTest(args=args):
                    image = [] if "--image" in args else ["--image", IMAGE_NAME]
                    out, err, status = run_many(image + args, cwd=work, timeout=60)
                    self.assertEqual(status, 2, err)
                    self.assertEqual(out, b"")
                    self.assertEqual(err.decode("latin-1").splitlines()[0],
                                     "tcpflash-many: " + complaint)
                    self.assertEqual(sorted(n for n in os.listdir(work)
                                            if n.startswith(("tcpflash-many-", "logs", "r."))),
                                     [])
            with open(os.path.join(work, IMAGE_NAME), "rb") as f:
                self.assertEqual(f.read(), IMAGE)
            self.assertEqual(os.stat(os.path.join(work, IMAGE_NAME)).st_mtime_ns,
                             image_stat.st_mtime_ns)
            self.assertNotIn("sim: connect", sim.log())


if __name__ == "__main__":
    harness.main()

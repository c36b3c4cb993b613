"""Many boards at once: 16 simulators on 16 loopback ports, flashed by 16
tcpflash processes in parallel, every image intact."""

import concurrent.futures
import os
import unittest

import harness
from harness import make_image, run_tool, start_sim, workdir

BOARDS = 16


def flash_board(index):
    image = make_image(1 << 20 if index % 2 else (1 << 20) + 17, seed=100 + index)
    with workdir(image) as path:
        received_path = os.path.join(path, "received.bin")
        with start_sim(["--mode", "2", "--quiet", "--image-out", received_path],
                       timeout_s=150) as sim:
            out, status = run_tool(["127.0.0.1", sim.port], cwd=path, timeout=120)
            _, sim_status = sim.wait()
        with open(received_path, "rb") as f:
            return image, out, status, sim_status, f.read()


class ManyBoardsTest(unittest.TestCase):
    def test_sixteen_boards_in_parallel(self):
        with concurrent.futures.ThreadPoolExecutor(max_workers=BOARDS) as pool:
            results = list(pool.map(flash_board, range(BOARDS)))
        for index, (image, out, status, sim_status, received) in enumerate(results):
            with self.subTest(board=index):
                self.assertEqual(status, 0, out)
                self.assertEqual(sim_status, 0)
                self.assertTrue(received == image, "image %d arrived changed" % index)


if __name__ == "__main__":
    harness.main()

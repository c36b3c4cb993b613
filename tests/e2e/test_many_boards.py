"""Many boards at once: 16 simulators on 16 loopback ports, flashed by 16
tcpflash processes in parallel, every image intact."""

import concurrent.futures
import unittest

import harness
from harness import flash_into_sim, make_image

BOARDS = 16


def flash_board(index):
    image = make_image(1 << 20 if index % 2 else (1 << 20) + 17, seed=100 + index)
    run = flash_into_sim(image, ["--mode", "2", "--quiet"], timeout=120, sim_timeout_s=150)
    return image, run.out, run.status, run.sim_status, run.received


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

// Byte strings for the tests and the fuzz harnesses. Header-only and free of
// GoogleTest, so that the fuzz harnesses can include it.
#ifndef TCPFLASH_TESTS_SUPPORT_BYTES_H_
#define TCPFLASH_TESTS_SUPPORT_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "frame/frame_codec.h"

using Bytes = std::vector<uint8_t>;

// size bytes drawn from seed, about a quarter of them the values that need
// stuffing (FRAME_ESCAPE to FRAME_END): an image that exercises the stuffing
// of every block it is sent in.
inline Bytes RandomImage(size_t size, unsigned seed = 1) {
  std::mt19937 rng(seed);
  Bytes image(size);
  for (uint8_t& b : image) {
    const auto r = rng();
    b = (r & 3) == 0 ? static_cast<uint8_t>(FRAME_ESCAPE + (r >> 2) % 3)
                     : static_cast<uint8_t>(r >> 8);
  }
  return image;
}

#endif  // TCPFLASH_TESTS_SUPPORT_BYTES_H_

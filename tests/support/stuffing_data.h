// Test data for the code that passes plain bytes eight at a time (StuffBytes
// and the stream decoder) and the byte-by-byte reference it must match. Both
// tests draw on the same data so that the word-wide paths face the same cases.
// Header-only and free of GoogleTest: the stream decoder's fuzz harness frames
// its contents with it too.
#ifndef TCPFLASH_TESTS_SUPPORT_STUFFING_DATA_H_
#define TCPFLASH_TESTS_SUPPORT_STUFFING_DATA_H_

#include <cstddef>
#include <cstdint>
#include <random>

#include "frame/frame_codec.h"
#include "tests/support/bytes.h"

namespace stuffing_test {

// Bytes handled a word at a time.
constexpr int kWordBytes = 8;
// The plain filler of LoneByteWord.
constexpr uint8_t kPlain = 0x41;

// The raw form of content[0,n) by the byte rule alone (StuffByte), never the
// word-wide path.
inline Bytes StuffedByByte(const uint8_t* content, size_t n) {
  Bytes raw;
  for (size_t i = 0; i < n; ++i) {
    uint8_t pair[2];
    raw.insert(raw.end(), pair, pair + StuffByte(content[i], pair));
  }
  return raw;
}

// The whole raw frame of content: start marker, stuffed content, end marker.
inline Bytes Framed(const Bytes& content) {
  Bytes raw{FRAME_START};
  const Bytes stuffed = StuffedByByte(content.data(), content.size());
  raw.insert(raw.end(), stuffed.begin(), stuffed.end());
  raw.push_back(FRAME_END);
  return raw;
}

// n random bytes of which about one in eight is drawn from 0xFA to 0xFF, the
// three stuffed values and their neighbours: sparse enough that many words
// are plain, so both the word-wide path and its way out are taken, with each
// special value at every spot of a word over many draws.
inline Bytes SparseSpecials(std::mt19937& rng, size_t n) {
  Bytes bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() % 8 == 0 ? 0xFA + rng() % 6 : rng());
  return bytes;
}

// Fills word[0,kWordBytes) with kPlain but value at position at: run over
// every value and position, it shows that the word test finds each special
// value wherever it sits and lets every other value pass.
inline void LoneByteWord(int value, int at, uint8_t* word) {
  for (int i = 0; i < kWordBytes; ++i) word[i] = kPlain;
  word[at] = static_cast<uint8_t>(value);
}

}  // namespace stuffing_test

#endif  // TCPFLASH_TESTS_SUPPORT_STUFFING_DATA_H_

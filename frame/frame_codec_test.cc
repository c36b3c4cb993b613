#include "frame/frame_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/stuffing_data.h"

namespace {

TEST(Crc16Test, PublishedCheckValueAndEmptyInput) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(ComputeCrc16(digits, 9), 0xD64E);
  EXPECT_EQ(ComputeCrc16(digits, 0), 0x0000);
  EXPECT_EQ(ComputeCrc16(digits, -3), 0x0000);
}

TEST(Crc16Test, AppendCrcWritesHighByteFirst) {
  struct Case {
    Bytes frame;
    uint8_t high, low;
  };
  const Case cases[] = {
      {{0xFE, 0x00, 0x00, 0x00, 0x05, 0x2D, 0x03, 0x4E, 0x53, 0x09, 0x00, 0x00, 0xFF}, 0xDA, 0xF7},
      {{0xFE, 0x00, 0x00, 0x01, 0x05, 0x2D, 0x03, 0x4E, 0x53, 0x02, 0x00, 0x00, 0xFF}, 0xD3, 0xFD},
      {{0xFE, 0x00, 0x00, 0x02, 0x05, 0x2D, 0x03, 0x4E, 0x53, 0x03, 0x00, 0x00, 0xFF}, 0x1B, 0x5E},
  };
  for (const Case& c : cases) {
    Bytes frame = c.frame;
    AppendCrc(frame.data(), 13);
    EXPECT_EQ(frame[10], c.high);
    EXPECT_EQ(frame[11], c.low);
    frame[10] = c.frame[10];
    frame[11] = c.frame[11];
    EXPECT_EQ(frame, c.frame) << "only the check bytes change";
  }
}

TEST(Crc16Test, VerifyAcceptsCompletedFramesAndRejectsAnyChange) {
  Bytes frame = {0xFE, 0x00, 0x00, 0x07, 0x05, 0x2D, 0x03, 0x4E, 0x53, 0x02, 0x00, 0x00, 0xFF};
  AppendCrc(frame.data(), 13);
  EXPECT_EQ(VerifyCrc(frame.data(), 13), 0);
  for (int i = 1; i <= 11; ++i) {
    Bytes changed = frame;
    changed[i] ^= 0x01;
    EXPECT_EQ(VerifyCrc(changed.data(), 13), -1) << "byte " << i;
  }
  // Markers are not covered.
  frame[0] = 0x00;
  frame[12] = 0x00;
  EXPECT_EQ(VerifyCrc(frame.data(), 13), 0);
}

TEST(Crc16Test, VerifyAcceptsRsEndingUnchecked) {
  const Bytes frame = {0xFE, 0x11, 0x22, 0x33, 0x52, 0x53};
  EXPECT_EQ(VerifyCrc(frame.data(), 6), 0);
}

TEST(EscapeFrameTest, StuffsCheckBytesLikeContent) {
  uint8_t frame[24] = {0xFE, 0x00, 0x00, 0x01, 0x05, 0x2D, 0x03, 0x4E, 0x53, 0x02, 0, 0, 0xFF};
  AppendCrc(frame, 13);
  ASSERT_EQ(EscapeFrame(frame, 13), 14);
  const Bytes want = {0xFE, 0x00, 0x00, 0x01, 0x05, 0x2D, 0x03,
                      0x4E, 0x53, 0x02, 0xD3, 0xFD, 0x00, 0xFF};
  EXPECT_EQ(Bytes(frame, frame + 14), want);
}

TEST(EscapeFrameTest, LengthEdges) {
  // Markers are written afresh, never read.
  uint8_t three[4] = {0x00, 0x41, 0x00, 0x77};
  EXPECT_EQ(EscapeFrame(three, 3), 3);
  EXPECT_EQ(Bytes(three, three + 4), (Bytes{0xFE, 0x41, 0xFF, 0x77}));

  for (int len : {0, 1, 2}) {
    uint8_t tiny[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(EscapeFrame(tiny, static_cast<uint8_t>(len)), 2);
    EXPECT_EQ(tiny[0], 0xFE);
    EXPECT_EQ(tiny[1], 0xFF);
  }

  uint8_t worst[98];
  std::fill(worst, worst + 98, 0xFF);
  EXPECT_EQ(EscapeFrame(worst, 50), 98);

  uint8_t tooLong[60];
  std::fill(tooLong, tooLong + 60, 0xAB);
  EXPECT_EQ(EscapeFrame(tooLong, 51), 0);
  EXPECT_EQ(Bytes(tooLong, tooLong + 60), Bytes(60, 0xAB));
}

TEST(UnescapeFrameTest, Table) {
  struct Case {
    Bytes raw;
    int result;
    Bytes content;  // expected buffer start on success
  };
  const Case cases[] = {
      {{0xFE, 0xFD, 0x00, 0xFD, 0x01, 0xFD, 0x02, 0xFF}, 3, {0xFD, 0xFE, 0xFF}},
      {{0xFE, 0x41, 0xFD, 0x03, 0xFF}, -1, {}},     // unknown escape code
      {{0xFE, 0x41, 0xFD, 0xFF}, -1, {}},           // escape right before the end
      {{0x00, 0x41, 0x42, 0x00}, 2, {0x41, 0x42}},  // markers are not checked
      {{0xFE, 0x41, 0xFE, 0x42, 0xFF}, 3, {0x41, 0xFE, 0x42}},
      {{0xFE, 0xFF}, 0, {}},
  };
  for (const Case& c : cases) {
    Bytes buffer = c.raw;
    EXPECT_EQ(UnescapeFrame(buffer.data(), static_cast<int>(buffer.size())), c.result);
    if (c.result > 0) {
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.result), c.content);
      // Past the content the buffer keeps its bytes.
      EXPECT_TRUE(std::equal(buffer.begin() + c.result, buffer.end(), c.raw.begin() + c.result));
    } else {
      EXPECT_EQ(buffer, c.raw) << "a failure leaves the buffer as it was";
    }
  }
}

TEST(UnescapeFrameTest, ShortLengthsTouchNothing) {
  for (int len : {2, 1, 0, -1}) {
    uint8_t buffer[3] = {0xFE, 0xFD, 0xFF};
    EXPECT_EQ(UnescapeFrame(buffer, len), 0);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0xFE, 0xFD, 0xFF}));
  }
}

TEST(UnescapeFrameTest, ContentLimit) {
  for (int content : {50, 51}) {
    Bytes raw(static_cast<size_t>(content) * 2 + 2);
    size_t n = 0;
    raw[n++] = 0xFE;
    for (int i = 0; i < content; ++i) {
      raw[n++] = 0xFD;
      raw[n++] = 0x02;
    }
    raw[n++] = 0xFF;
    const Bytes before = raw;
    const int got = UnescapeFrame(raw.data(), static_cast<int>(n));
    if (content == 50) {
      EXPECT_EQ(got, 50);
      EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 50), Bytes(50, 0xFF));
    } else {
      EXPECT_EQ(got, -1);
      EXPECT_EQ(raw, before);
    }
  }
}

TEST(StuffBytesTest, MatchesTheByteRuleAtEveryPositionAndLength) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    const int n = static_cast<int>(rng() % 40);
    // One spare byte behind the input: StuffBytes must not read it.
    const Bytes in = stuffing_test::SparseSpecials(rng, static_cast<size_t>(n) + 1);
    const Bytes want = stuffing_test::StuffedByByte(in.data(), static_cast<size_t>(n));
    Bytes out(2 * static_cast<size_t>(n) + 1);
    const int got = StuffBytes(in.data(), n, out.data());
    ASSERT_EQ(Bytes(out.begin(), out.begin() + got), want);
  }
  for (int v = 0; v < 256; ++v) {
    for (int at = 0; at < stuffing_test::kWordBytes; ++at) {
      uint8_t in[stuffing_test::kWordBytes];
      stuffing_test::LoneByteWord(v, at, in);
      uint8_t out[2 * stuffing_test::kWordBytes];
      const int got = StuffBytes(in, stuffing_test::kWordBytes, out);
      ASSERT_EQ(Bytes(out, out + got), stuffing_test::StuffedByByte(in, sizeof in))
          << v << " at " << at;
    }
  }
}

// Undoes the stuffing of raw[0,n) (no markers); false on a marker or a bad
// escape code.
bool Unstuff(const uint8_t* raw, int n, Bytes* plain) {
  plain->clear();
  for (int i = 0; i < n; ++i) {
    if (raw[i] == FRAME_START || raw[i] == FRAME_END) return false;
    if (raw[i] != FRAME_ESCAPE) {
      plain->push_back(raw[i]);
    } else if (i + 1 < n && raw[i + 1] <= 2) {
      plain->push_back(static_cast<uint8_t>(FRAME_ESCAPE + raw[++i]));
    } else {
      return false;
    }
  }
  return true;
}

// Runs both stuffing paths on in and checks each against the byte rule, the
// round trip, and the output bounds: nothing written past 2n (the portable
// path writes nothing past its result). in is held in a buffer of exactly its
// size, so that a read past it shows under the address sanitizer.
void CheckStuffing(const Bytes& in, const std::string& what) {
  const int n = static_cast<int>(in.size());
  const Bytes want = stuffing_test::StuffedByByte(in.data(), in.size());
  const std::unique_ptr<uint8_t[]> exact(new uint8_t[in.size() + (in.empty() ? 1 : 0)]);
  std::copy(in.begin(), in.end(), exact.get());
  constexpr uint8_t kCanary = 0xA5;
  constexpr int kGuard = 32;
  struct Path {
    const char* name;
    int (*stuff)(const uint8_t*, int, uint8_t*);
    bool scratch;  // may write past its result, up to 2n
  };
  const Path paths[] = {{"StuffBytes", StuffBytes, true},
                        {"StuffBytesPortable", StuffBytesPortable, false}};
  for (const Path& path : paths) {
    Bytes out(2 * in.size() + kGuard, kCanary);
    const int got = path.stuff(exact.get(), n, out.data());
    ASSERT_EQ(Bytes(out.begin(), out.begin() + std::max(got, 0)), want)
        << path.name << ", " << what;
    const int untouchedFrom = path.scratch ? 2 * n : got;
    for (size_t i = static_cast<size_t>(untouchedFrom); i < out.size(); ++i) {
      ASSERT_EQ(out[i], kCanary) << path.name << " wrote byte " << i << ", " << what;
    }
    Bytes back;
    ASSERT_TRUE(Unstuff(out.data(), got, &back)) << path.name << ", " << what;
    ASSERT_EQ(back, in) << path.name << ", " << what;
  }
}

TEST(StuffBytesTest, BothPathsAtEveryPositionAroundTheGroupEdges) {
  // Every length up to 80 crosses the 8-, 16- and 32-byte steps of both paths
  // and the byte-by-byte end of the vector path; a few longer ones and a full
  // block follow.
  std::vector<int> lengths;
  for (int n = 0; n <= 80; ++n) lengths.push_back(n);
  for (int n : {95, 96, 97, 127, 128, 129, 749, 750}) lengths.push_back(n);
  const uint8_t marks[] = {FRAME_ESCAPE, FRAME_START, FRAME_END};
  const uint8_t nearMarks[] = {0x00, 0x7D, 0x7F, 0x80, 0xFC};
  std::mt19937 rng(11);
  for (const int n : lengths) {
    const size_t size = static_cast<size_t>(n);
    for (int at = 0; at < n; ++at) {
      // One marker alone among plain bytes, and one plain byte alone among
      // markers.
      for (const uint8_t m : marks) {
        Bytes lone(size, 0x41);
        lone[static_cast<size_t>(at)] = m;
        CheckStuffing(lone, "n " + std::to_string(n) + ", marker at " + std::to_string(at));
      }
      for (const uint8_t plain : nearMarks) {
        Bytes gap(size);
        for (size_t i = 0; i < size; ++i) gap[i] = marks[i % 3];
        gap[static_cast<size_t>(at)] = plain;
        CheckStuffing(gap, "n " + std::to_string(n) + ", plain at " + std::to_string(at));
      }
    }
    CheckStuffing(Bytes(size, FRAME_END), "n " + std::to_string(n) + ", all 0xFF");
    // Random blocks, markers dense to sparse.
    for (const unsigned oneIn : {2u, 4u, 16u, 64u}) {
      for (int round = 0; round < 8; ++round) {
        Bytes block(size);
        for (uint8_t& b : block) {
          b = rng() % oneIn == 0 ? marks[rng() % 3] : static_cast<uint8_t>(rng() % 0xFD);
        }
        CheckStuffing(block, "n " + std::to_string(n) + ", random 1 in " + std::to_string(oneIn));
      }
    }
  }
  // Every byte value at every position of a 32-byte run.
  for (int v = 0; v < 256; ++v) {
    for (size_t at = 0; at < 32; ++at) {
      Bytes run(32, 0x41);
      run[at] = static_cast<uint8_t>(v);
      CheckStuffing(run, "value " + std::to_string(v) + " at " + std::to_string(at));
    }
  }
}

TEST(FrameCodecTest, StuffingRoundTripsAnyContent) {
  std::mt19937 rng(7);
  // Bytes near the marker values are the interesting ones.
  const uint8_t alphabet[] = {0x00, 0x01, 0x02, 0x41, 0xFC, 0xFD, 0xFE, 0xFF};
  for (int round = 0; round < 5000; ++round) {
    const int len = 2 + static_cast<int>(rng() % 49);
    uint8_t frame[98];
    for (int i = 0; i < len; ++i) {
      frame[i] = round % 2 ? alphabet[rng() % 8] : static_cast<uint8_t>(rng());
    }
    const Bytes plain(frame, frame + len);
    const int raw = EscapeFrame(frame, static_cast<uint8_t>(len));
    ASSERT_GE(raw, len);
    ASSERT_LE(raw, std::max(2, 2 * len - 2));
    EXPECT_EQ(frame[0], FRAME_START);
    EXPECT_EQ(frame[raw - 1], FRAME_END);
    for (int i = 1; i < raw - 1; ++i) ASSERT_LT(frame[i], FRAME_START) << "marker inside";
    ASSERT_EQ(UnescapeFrame(frame, raw), len - 2);
    EXPECT_EQ(Bytes(frame, frame + len - 2), Bytes(plain.begin() + 1, plain.end() - 1));
  }
}

}  // namespace

#include "frame/frame_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/scripted_reads.h"
#include "tests/support/testutil.h"

namespace {

// A peer that keeps sending: after every pauseMs, each read brings the next
// bytesPerRead bytes of a pattern repeated over and over, or nothing for the
// emptyReads reads that follow each read with bytes. After 20 s it falls
// silent, so that even a receiver without a deadline ends (by its idle count)
// and the test fails instead of hanging.
class PacedSource {
 public:
  PacedSource(Bytes pattern, int bytesPerRead, int emptyReads, int pauseMs)
      : pattern_(std::move(pattern)),
        bytesPerRead_(bytesPerRead),
        emptyReads_(emptyReads),
        pauseMs_(pauseMs),
        silentFrom_(std::chrono::steady_clock::now() + std::chrono::seconds(20)) {}

  int Receive(uint8_t* buffer, int length) {
    if (pauseMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs_));
    if (std::chrono::steady_clock::now() >= silentFrom_) return 0;
    if (quiet_ > 0) {
      --quiet_;
      return 0;
    }
    quiet_ = emptyReads_;
    const int n = std::min(bytesPerRead_, length);
    for (int i = 0; i < n; ++i) buffer[i] = pattern_[next_++ % pattern_.size()];
    bytes += static_cast<size_t>(n);
    return n;
  }

  size_t bytes = 0;  // handed out so far

 private:
  Bytes pattern_;
  int bytesPerRead_;
  int emptyReads_;
  int pauseMs_;
  std::chrono::steady_clock::time_point silentFrom_;
  int quiet_ = 0;
  size_t next_ = 0;
};

// The stream cut into reads of four bytes, as the endpoint delivers it, then
// only empty reads.
ScriptedReads InReadsOfFour(const Bytes& stream) { return ScriptedReads(stream, {4}, true); }

class FrameReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override { CarryOver.count = 0; }

  // Receives one frame with the limits every caller uses; returns the frame,
  // or an empty vector after a time-out.
  Bytes Receive(ScriptedReads& source, int maxLen = 256, unsigned maxIdle = 1000) {
    uint8_t out[256];
    const int n = ReceiveFrame(source, out, maxLen, maxIdle);
    result = n;
    EXPECT_EQ(source.cutReads, 0u) << "a read asked for fewer bytes than the script has";
    return n > 0 ? Bytes(out, out + n) : Bytes();
  }

  Bytes Carried() const { return Bytes(CarryOver.bytes, CarryOver.bytes + CarryOver.count); }

  int result = 0;
};

TEST_F(FrameReceiverTest, DropsLeadingBytesAndCarriesTheRest) {
  ScriptedReads source({{0x41, 0xFE, 0x00, 0x01}, {0x09, 0xFF, 0xFE, 0x00}, {0x07, 0xFF}});
  EXPECT_EQ(Receive(source), (Bytes{0xFE, 0x00, 0x01, 0x09, 0xFF}));
  EXPECT_EQ(Carried(), (Bytes{0xFE, 0x00}));
  // The next call starts from the carried bytes before it reads.
  EXPECT_EQ(Receive(source), (Bytes{0xFE, 0x00, 0x07, 0xFF}));
  EXPECT_EQ(source.reads, 3u);
  EXPECT_EQ(CarryOver.count, 0);
}

TEST_F(FrameReceiverTest, WholeFrameInCarryOverNeedsNoRead) {
  ScriptedReads source({{0xFE, 0x01, 0xFF, 0xFE}, {0x02, 0xFF}});
  EXPECT_EQ(Receive(source), (Bytes{0xFE, 0x01, 0xFF}));
  CarryOver.count = 0;
  const Bytes whole = {0xFE, 0x05, 0xFF};
  std::copy(whole.begin(), whole.end(), CarryOver.bytes);
  CarryOver.count = 3;
  EXPECT_EQ(Receive(source), whole);
  EXPECT_EQ(source.reads, 1u);
}

TEST_F(FrameReceiverTest, MarkerRules) {
  struct Case {
    Bytes stream;
    Bytes frame;
  };
  const Case cases[] = {
      {{0xFE, 0x01, 0xFE, 0x02, 0xFF}, {0xFE, 0x02, 0xFF}},  // a new start restarts
      {{0xFF, 0x33, 0xFE, 0xFF}, {0xFE, 0xFF}},              // 0xFF while hunting dropped
      {{0xFE, 0xFD, 0x02, 0xFF}, {0xFE, 0xFD, 0x02, 0xFF}},  // stuffing not looked at
  };
  for (const Case& c : cases) {
    CarryOver.count = 0;
    ScriptedReads source = InReadsOfFour(c.stream);
    EXPECT_EQ(Receive(source), c.frame);
    EXPECT_EQ(CarryOver.count, 0) << "end marker was the last byte of its read";
  }
}

TEST_F(FrameReceiverTest, FrameOfExactlyMaxLenIsKeptLongerIsDiscarded) {
  for (int raw : {256, 257}) {
    CarryOver.count = 0;
    Bytes stream(static_cast<size_t>(raw), 0x41);
    stream.front() = 0xFE;
    stream.back() = 0xFF;
    // After the discarded frame, a 0xFE arriving with the overflow byte does
    // not open a frame; the next one does.
    const Bytes next = {0xFE, 0x42, 0xFF};
    stream.insert(stream.end(), next.begin(), next.end());
    ScriptedReads source = InReadsOfFour(stream);
    const Bytes got = Receive(source);
    if (raw == 256) {
      EXPECT_EQ(result, 256);
    } else {
      EXPECT_EQ(got, next);
    }
  }
}

TEST_F(FrameReceiverTest, OverflowByteIsDroppedEvenWhenItIsAStart) {
  // maxLen 4: FE 01 02 03 fills the buffer; the FE that follows is dropped.
  ScriptedReads source({{0xFE, 0x01, 0x02, 0x03}, {0xFE, 0x09, 0xFF, 0xFE}, {0x07, 0xFF}});
  EXPECT_EQ(Receive(source, 4), (Bytes{0xFE, 0x07, 0xFF}));
}

TEST_F(FrameReceiverTest, IdleLimitCountsEmptyReadsExactly) {
  testing::internal::CaptureStdout();
  ScriptedReads silent({});
  EXPECT_EQ(Receive(silent, 256, 1000), Bytes());
  EXPECT_EQ(result, -1);
  EXPECT_EQ(silent.reads, 1001u);

  // A read that brings bytes leaves the counter at 1: 1000 more empty reads.
  ScriptedReads partial({{0xFE, 0x01}});
  Receive(partial, 256, 1000);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(partial.reads, 1u + 1000u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Timeout\r\nTimeout\r\n");
}

// Bytes that keep coming keep the idle count low; the deadline still ends
// the call.
TEST_F(FrameReceiverTest, PeerThatNeverCompletesAFrameMeetsTheDeadline) {
  Bytes overlong(300, 0x41);
  overlong.front() = 0xFE;
  struct Case {
    const char* what;
    Bytes pattern;
    int bytesPerRead;
    int emptyReads;
    int pauseMs;
  };
  const Case cases[] = {
      {"babbling, no start marker", {0x41, 0xFF}, 4, 0, 0},
      {"babbling, frames too long", overlong, 4, 0, 0},
      {"babbling, frames restarted", {0xFE, 0x01, 0x02}, 4, 0, 0},
      {"trickling", {0xFE, 0x41}, 1, 50, 1},
  };
  const int deadlineMs = 400;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CarryOver.count = 0;
    PacedSource source(c.pattern, c.bytesPerRead, c.emptyReads, c.pauseMs);
    uint8_t out[256];
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    const int n = ReceiveFrame(source, out, 256, 1000, deadlineMs);
    const long long tookMs = MillisecondsSince(start);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Timeout\r\n");
    EXPECT_EQ(n, -1);
    EXPECT_EQ(CarryOver.count, 0);
    EXPECT_GT(source.bytes, 0u) << "the peer was heard";
    EXPECT_GE(tookMs, deadlineMs);
    // A generous bound: it catches a call that goes on for ever.
    EXPECT_LT(tookMs, deadlineMs + 5000);
  }
}

TEST_F(FrameReceiverTest, FrameCompletedBeforeTheDeadlineIsReturned) {
  // Junk, then a frame, one byte per read with a pause before each: done in
  // some 25 ms, the deadline lies far beyond.
  Bytes stream(20, 0x41);
  const Bytes frame = {0xFE, 0x01, 0x02, 0xFF};
  stream.insert(stream.end(), frame.begin(), frame.end());
  PacedSource source(stream, 1, 0, 1);
  uint8_t out[256];
  const int n = ReceiveFrame(source, out, 256, 1000, 5000);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(Bytes(out, out + n), frame);
}

TEST_F(FrameReceiverTest, TimeoutEmptiesCarryOver) {
  testing::internal::CaptureStdout();
  ScriptedReads source({{0xFE, 0x01, 0xFF, 0xFE}});
  Receive(source, 256, 3);
  EXPECT_EQ(Carried(), (Bytes{0xFE}));
  Receive(source, 256, 3);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(CarryOver.count, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Timeout\r\n");
}

TEST_F(FrameReceiverTest, AnySplitOfTheStreamGivesTheSameFrames) {
  const Bytes stream = {0x00, 0xFE, 0x01, 0xFD, 0x00, 0xFF, 0x13, 0xFE, 0x02, 0xFF, 0xFE, 0xFF};
  const std::vector<Bytes> frames = {
      {0xFE, 0x01, 0xFD, 0x00, 0xFF}, {0xFE, 0x02, 0xFF}, {0xFE, 0xFF}};
  for (int seed = 0; seed < 200; ++seed) {
    CarryOver.count = 0;
    std::vector<Bytes> reads;
    unsigned state = static_cast<unsigned>(seed) * 2654435761u + 1;
    for (size_t i = 0; i < stream.size();) {
      state = state * 1103515245u + 12345u;
      const size_t take = std::min<size_t>(1 + (state >> 16) % 4, stream.size() - i);
      if ((state >> 8) % 3 == 0) reads.emplace_back();  // an empty read in between
      reads.emplace_back(stream.begin() + static_cast<long>(i),
                         stream.begin() + static_cast<long>(i + take));
      i += take;
    }
    ScriptedReads source(reads);
    for (const Bytes& frame : frames) ASSERT_EQ(Receive(source), frame) << "seed " << seed;
  }
}

TEST_F(FrameReceiverTest, RefusesMaxLenOutsideTheChunk) {
  ScriptedReads source({{0xFE, 0xFF}});
  uint8_t out[300];
  EXPECT_EQ(ReceiveFrame(source, out, 1, 1000), -1);
  EXPECT_EQ(ReceiveFrame(source, out, 257, 1000), -1);
  EXPECT_EQ(source.reads, 0u);
}

}  // namespace

#include "frame/frame_stream_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frame/frame_codec.h"
#include "tests/support/bytes.h"
#include "tests/support/decoder_events.h"
#include "tests/support/stuffing_data.h"

namespace {

using stuffing_test::Framed;

// The decoded content of a full data frame: length bytes, command, 750 bytes.
constexpr int kCapacity = 753;

// A decoder with its own storage.
struct Decoder {
  explicit Decoder(int capacity = kCapacity)
      : storage(static_cast<size_t>(capacity) + 1), decoder(storage.data(), capacity) {}
  int Feed(const Bytes& data, FrameSink& sink) {
    return decoder.Feed(data.data(), static_cast<int>(data.size()), sink);
  }
  Bytes storage;
  FrameStreamDecoder decoder;
};

// Feeds data one byte at a time: the word-wide path is never taken, so this
// is the reference the block-wise decoding must match.
std::vector<DecoderEvent> ByteByByte(const Bytes& data, int capacity) {
  Decoder d(capacity);
  EventRecorder sink;
  for (const uint8_t b : data) d.decoder.Feed(&b, 1, sink);
  return sink.events;
}

TEST(FrameStreamDecoderTest, FramesSplitAtEveryPositionAreWhole) {
  const std::vector<Bytes> sent = {{0x00, 0x02, 0x03, 0x41}, {}, {0xFD, 0xFE, 0xFF, 0xFC, 0xFD}};
  Bytes stream{0x11, FRAME_END, FRAME_ESCAPE, 0x05};  // noise before the first frame
  for (const Bytes& content : sent) {
    const Bytes raw = Framed(content);
    stream.insert(stream.end(), raw.begin(), raw.end());
  }
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    for (size_t cut2 = cut; cut2 <= stream.size(); ++cut2) {
      Decoder d;
      EventRecorder sink;
      int delivered = d.decoder.Feed(stream.data(), static_cast<int>(cut), sink);
      delivered += d.decoder.Feed(stream.data() + cut, static_cast<int>(cut2 - cut), sink);
      delivered +=
          d.decoder.Feed(stream.data() + cut2, static_cast<int>(stream.size() - cut2), sink);
      ASSERT_EQ(sink.frames, sent) << "cuts at " << cut << " and " << cut2;
      EXPECT_EQ(delivered, 3);
      EXPECT_TRUE(sink.rejects.empty());
    }
  }
}

TEST(FrameStreamDecoderTest, RandomFramesInRandomBlocksRoundTrip) {
  std::mt19937 rng(7);
  std::vector<Bytes> sent;
  Bytes stream;
  for (int i = 0; i < 3000; ++i) {
    const size_t length = i == 0 ? kCapacity : rng() % (kCapacity + 1);
    sent.push_back(stuffing_test::SparseSpecials(rng, length));
    // Stray bytes between frames: anything but a start marker.
    for (unsigned k = rng() % 4; k > 0; --k) {
      const uint8_t stray = static_cast<uint8_t>(rng());
      stream.push_back(stray == FRAME_START ? FRAME_END : stray);
    }
    const Bytes raw = Framed(sent.back());
    stream.insert(stream.end(), raw.begin(), raw.end());
  }
  Decoder d;
  EventRecorder sink;
  for (size_t at = 0; at < stream.size();) {
    const size_t block = std::min<size_t>(1 + rng() % 5000, stream.size() - at);
    d.decoder.Feed(stream.data() + at, static_cast<int>(block), sink);
    at += block;
  }
  EXPECT_EQ(sink.frames, sent);
  EXPECT_TRUE(sink.rejects.empty());
}

TEST(FrameStreamDecoderTest, EveryByteValueAtEverySpotOfAWordIsSeen) {
  // The word sits at every alignment behind the start marker, between plain
  // bytes, so the word-wide path meets it whole; a marker or escape byte in
  // it must end, restart or escape exactly where the byte-wise path does.
  const Bytes next{FRAME_START, 0x42, FRAME_END};
  for (int v = 0; v < 256; ++v) {
    for (int at = 0; at < stuffing_test::kWordBytes; ++at) {
      for (int lead = 0; lead < stuffing_test::kWordBytes; ++lead) {
        uint8_t word[stuffing_test::kWordBytes];
        stuffing_test::LoneByteWord(v, at, word);
        Bytes stream{FRAME_START};
        stream.insert(stream.end(), static_cast<size_t>(lead), stuffing_test::kPlain);
        stream.insert(stream.end(), word, word + sizeof word);
        stream.insert(stream.end(), 9, stuffing_test::kPlain);
        stream.push_back(FRAME_END);
        stream.insert(stream.end(), next.begin(), next.end());
        Decoder d;
        EventRecorder sink;
        d.Feed(stream, sink);
        ASSERT_EQ(sink.events, ByteByByte(stream, kCapacity))
            << "value " << v << " at " << at << " behind " << lead;
        if (v < FRAME_ESCAPE) {
          ASSERT_EQ(sink.frames.size(), 2u);
          EXPECT_EQ(sink.frames[0], Bytes(stream.begin() + 1, stream.end() - 4));
        }
      }
    }
  }
}

struct BadCase {
  const char* name;
  Bytes stream;
  std::vector<Bytes> frames;
  std::vector<FrameReject> rejects;
};

Bytes Repeat(uint8_t b, int n, const Bytes& tail) {
  Bytes out(static_cast<size_t>(n) + 1, b);
  out[0] = FRAME_START;
  for (uint8_t t : tail) out.push_back(t);
  return out;
}

TEST(FrameStreamDecoderTest, BadFramesAreRejectedAndTheNextOneFound) {
  const Bytes next{FRAME_START, 0x42, FRAME_END};
  auto then = [&next](Bytes head) {
    head.insert(head.end(), next.begin(), next.end());
    return head;
  };
  const BadCase cases[] = {
      {"bad code", then({0xFE, 0x41, 0xFD, 0x03, 0xFF}), {{0x42}}, {FrameReject::kBadEscape}},
      {"escape then end", then({0xFE, 0x41, 0xFD, 0xFF}), {{0x42}}, {FrameReject::kBadEscape}},
      {"escape then start",
       {0xFE, 0x41, 0xFD, 0xFE, 0x42, 0xFF},
       {{0x42}},
       {FrameReject::kBadEscape}},
      {"start inside", {0xFE, 0x41, 0xFE, 0x42, 0xFF}, {{0x42}}, {FrameReject::kCutShort}},
      {"one too long",
       then(Repeat(0x41, kCapacity + 1, {0xFF})),
       {{0x42}},
       {FrameReject::kTooLong}},
      {"too long by an escape",
       then(Repeat(0x41, kCapacity, {0xFD, 0x00, 0xFF})),
       {{0x42}},
       {FrameReject::kTooLong}},
      {"strays only", then({0x00, 0xFF, 0xFD, 0x07, 0xFF}), {{0x42}}, {}},
  };
  for (const BadCase& c : cases) {
    Decoder d;
    EventRecorder sink;
    EXPECT_EQ(d.Feed(c.stream, sink), static_cast<int>(c.frames.size())) << c.name;
    EXPECT_EQ(sink.frames, c.frames) << c.name;
    EXPECT_EQ(sink.rejects, c.rejects) << c.name;
  }
}

TEST(FrameStreamDecoderTest, CapacityBoundsTheContent) {
  // Around the word size, where the word-wide path must stop at the limit.
  for (const int capacity : {0, 1, 7, 8, 9, 16, 50}) {
    for (const uint8_t last : {uint8_t{0x41}, FRAME_END}) {  // the last byte plain or stuffed
      Bytes fits(static_cast<size_t>(capacity), 0x41);
      if (capacity > 0) fits.back() = last;
      Bytes over = fits;
      over.push_back(last);
      Bytes stream = Framed(over);
      const Bytes fitting = Framed(fits);
      stream.insert(stream.end(), fitting.begin(), fitting.end());
      Decoder d(capacity);
      EventRecorder sink;
      EXPECT_EQ(d.Feed(stream, sink), 1) << capacity;
      EXPECT_EQ(sink.frames, std::vector<Bytes>{fits}) << capacity;
      EXPECT_EQ(sink.rejects, std::vector<FrameReject>{FrameReject::kTooLong}) << capacity;
      EXPECT_EQ(sink.events, ByteByByte(stream, capacity)) << capacity;
      // Nothing is written past the capacity.
      EXPECT_EQ(d.storage.back(), 0) << capacity;
    }
  }
}

TEST(FrameStreamDecoderTest, SinkStopsDecodingBehindAFrame) {
  const Bytes stream{0x00, 0xFE, 0x41, 0xFF, 0xFE, 0x42, 0xFF, 0x07, 0xFE, 0x43, 0xFF};
  for (size_t stopAfter = 1; stopAfter <= 3; ++stopAfter) {
    Decoder d;
    EventRecorder sink;
    sink.stopAfter = stopAfter;
    int used = -1;
    const int delivered =
        d.decoder.Feed(stream.data(), static_cast<int>(stream.size()), sink, &used);
    EXPECT_EQ(delivered, static_cast<int>(stopAfter));
    const int ends[] = {4, 7, 11};  // bytes up to and including each end marker
    EXPECT_EQ(used, ends[stopAfter - 1]);
    // The rest, fed afterwards, yields the frames that were left.
    sink.stopAfter = 0;
    d.decoder.Feed(stream.data() + used, static_cast<int>(stream.size()) - used, sink);
    EXPECT_EQ(sink.frames, (std::vector<Bytes>{{0x41}, {0x42}, {0x43}}));
  }
  Decoder d;
  EventRecorder sink;
  int used = -1;
  EXPECT_EQ(d.decoder.Feed(stream.data(), 5, sink, &used), 1);
  EXPECT_EQ(used, 5) << "without a stop the whole block is taken";
}

TEST(FrameStreamDecoderTest, ResetDropsAPartialFrame) {
  Decoder d;
  EventRecorder sink;
  d.Feed({0xFE, 0x41, 0x42}, sink);
  d.decoder.Reset();
  d.Feed({0x43, 0xFF, 0xFE, 0x44, 0xFF}, sink);
  EXPECT_EQ(sink.frames, std::vector<Bytes>{{0x44}});
}

}  // namespace

#include "sim/frame_stream_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frame/frame_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Collector : FrameSink {
  std::vector<Bytes> frames;
  std::vector<FrameReject> rejects;
  void OnFrame(const uint8_t* content, int n) override {
    frames.emplace_back(content, content + n);
  }
  void OnReject(FrameReject reason) override { rejects.push_back(reason); }
};

Bytes Stuffed(const Bytes& content) {
  Bytes raw{FRAME_START};
  uint8_t pair[2];
  for (uint8_t b : content) {
    const int n = StuffByte(b, pair);
    raw.insert(raw.end(), pair, pair + n);
  }
  raw.push_back(FRAME_END);
  return raw;
}

// Content rich in the three stuffed values.
Bytes RandomContent(std::mt19937& rng, int length) {
  Bytes content(static_cast<size_t>(length));
  for (uint8_t& b : content) {
    const auto r = rng();
    b = (r & 1) != 0 ? static_cast<uint8_t>(FRAME_ESCAPE + (r >> 1) % 3)
                     : static_cast<uint8_t>(r >> 8);
  }
  return content;
}

TEST(FrameStreamDecoderTest, FramesSplitAtEveryPositionAreWhole) {
  const std::vector<Bytes> sent = {{0x00, 0x02, 0x03, 0x41}, {}, {0xFD, 0xFE, 0xFF, 0xFC, 0xFD}};
  Bytes stream{0x11, FRAME_END, FRAME_ESCAPE, 0x05};  // noise before the first frame
  for (const Bytes& content : sent) {
    const Bytes raw = Stuffed(content);
    stream.insert(stream.end(), raw.begin(), raw.end());
  }
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    for (size_t cut2 = cut; cut2 <= stream.size(); ++cut2) {
      FrameStreamDecoder decoder;
      Collector sink;
      int delivered = decoder.Feed(stream.data(), static_cast<int>(cut), sink);
      delivered += decoder.Feed(stream.data() + cut, static_cast<int>(cut2 - cut), sink);
      delivered += decoder.Feed(stream.data() + cut2, static_cast<int>(stream.size() - cut2), sink);
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
    const int length =
        i == 0 ? STREAM_CONTENT_MAX : static_cast<int>(rng() % (STREAM_CONTENT_MAX + 1));
    sent.push_back(RandomContent(rng, length));
    // Stray bytes between frames: anything but a start marker.
    for (unsigned k = rng() % 4; k > 0; --k) {
      const uint8_t stray = static_cast<uint8_t>(rng());
      stream.push_back(stray == FRAME_START ? FRAME_END : stray);
    }
    const Bytes raw = Stuffed(sent.back());
    stream.insert(stream.end(), raw.begin(), raw.end());
  }
  FrameStreamDecoder decoder;
  Collector sink;
  for (size_t at = 0; at < stream.size();) {
    const size_t block = std::min<size_t>(1 + rng() % 5000, stream.size() - at);
    decoder.Feed(stream.data() + at, static_cast<int>(block), sink);
    at += block;
  }
  EXPECT_EQ(sink.frames, sent);
  EXPECT_TRUE(sink.rejects.empty());
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
       then(Repeat(0x41, STREAM_CONTENT_MAX + 1, {0xFF})),
       {{0x42}},
       {FrameReject::kTooLong}},
      {"too long by an escape",
       then(Repeat(0x41, STREAM_CONTENT_MAX, {0xFD, 0x00, 0xFF})),
       {{0x42}},
       {FrameReject::kTooLong}},
      {"strays only", then({0x00, 0xFF, 0xFD, 0x07, 0xFF}), {{0x42}}, {}},
  };
  for (const BadCase& c : cases) {
    FrameStreamDecoder decoder;
    Collector sink;
    EXPECT_EQ(decoder.Feed(c.stream.data(), static_cast<int>(c.stream.size()), sink),
              static_cast<int>(c.frames.size()))
        << c.name;
    EXPECT_EQ(sink.frames, c.frames) << c.name;
    EXPECT_EQ(sink.rejects, c.rejects) << c.name;
  }
}

TEST(FrameStreamDecoderTest, ResetDropsAPartialFrame) {
  FrameStreamDecoder decoder;
  Collector sink;
  const Bytes head{0xFE, 0x41, 0x42};
  const Bytes tail{0x43, 0xFF, 0xFE, 0x44, 0xFF};
  decoder.Feed(head.data(), static_cast<int>(head.size()), sink);
  decoder.Reset();
  decoder.Feed(tail.data(), static_cast<int>(tail.size()), sink);
  EXPECT_EQ(sink.frames, std::vector<Bytes>{{0x44}});
}

}  // namespace

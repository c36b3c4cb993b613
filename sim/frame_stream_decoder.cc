#include "sim/frame_stream_decoder.h"

#include <cstring>

#include "frame/frame_codec.h"

namespace {

constexpr uint64_t kLowBits = 0x7F7F7F7F7F7F7F7FULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;
constexpr uint64_t kThrees = 0x0303030303030303ULL;

// True when one of the eight bytes in word is FRAME_ESCAPE or above: its
// high bit is set and its low seven bits plus 3 reach 0x80. Masking the high
// bits first keeps the additions from carrying into the next byte.
inline bool HasSpecialByte(uint64_t word) {
  return (((word & kLowBits) + kThrees) & word & kHighBits) != 0;
}

}  // namespace

void FrameStreamDecoder::Reset() {
  state_ = State::kHunting;
  length_ = 0;
}

int FrameStreamDecoder::Feed(const uint8_t* data, int n, FrameSink& sink) {
  int frames = 0;
  const uint8_t* p = data;
  const uint8_t* const end = data + (n > 0 ? n : 0);
  while (p < end) {
    if (state_ == State::kHunting) {
      const void* start = std::memchr(p, FRAME_START, static_cast<size_t>(end - p));
      if (start == nullptr) break;
      p = static_cast<const uint8_t*>(start) + 1;
      state_ = State::kContent;
      length_ = 0;
      continue;
    }
    if (state_ == State::kContent) {
      // Plain bytes make up nearly all of a data frame: copy them eight at a
      // time while the word holds none of the three special values.
      while (end - p >= 8 && STREAM_CONTENT_MAX - length_ >= 8) {
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if (HasSpecialByte(word)) break;
        std::memcpy(content_ + length_, p, sizeof word);
        length_ += 8;
        p += 8;
      }
      if (p == end) break;
      const uint8_t b = *p++;
      if (b < FRAME_ESCAPE) {
        if (length_ == STREAM_CONTENT_MAX) {
          state_ = State::kHunting;
          sink.OnReject(FrameReject::kTooLong);
          continue;
        }
        content_[length_++] = b;
      } else if (b == FRAME_ESCAPE) {
        state_ = State::kEscape;
      } else if (b == FRAME_END) {
        state_ = State::kHunting;
        ++frames;
        sink.OnFrame(content_, length_);
      } else {
        length_ = 0;
        sink.OnReject(FrameReject::kCutShort);
      }
      continue;
    }
    // kEscape
    const uint8_t code = *p++;
    if (code > FRAME_END - FRAME_ESCAPE) {
      // A marker here still counts as one: it ends or starts a frame.
      state_ = code == FRAME_START ? State::kContent : State::kHunting;
      length_ = 0;
      sink.OnReject(FrameReject::kBadEscape);
      continue;
    }
    if (length_ == STREAM_CONTENT_MAX) {
      state_ = State::kHunting;
      sink.OnReject(FrameReject::kTooLong);
      continue;
    }
    content_[length_++] = static_cast<uint8_t>(FRAME_ESCAPE + code);
    state_ = State::kContent;
  }
  return frames;
}

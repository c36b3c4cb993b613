#include "frame/frame_stream_decoder.h"

#include <cstring>

#include "frame/frame_codec.h"

FrameStreamDecoder::FrameStreamDecoder(uint8_t* storage, int capacity)
    : content_(storage), capacity_(capacity > 0 ? capacity : 0) {}

void FrameStreamDecoder::Reset() {
  state_ = State::kHunting;
  length_ = 0;
}

int FrameStreamDecoder::Feed(const uint8_t* data, int n, FrameSink& sink, int* used) {
  int frames = 0;
  const uint8_t* p = data;
  const uint8_t* const end = data + (n > 0 ? n : 0);
  while (p < end) {
    if (state_ == State::kHunting) {
      const void* start = std::memchr(p, FRAME_START, static_cast<size_t>(end - p));
      if (start == nullptr) {
        p = end;
        break;
      }
      p = static_cast<const uint8_t*>(start) + 1;
      state_ = State::kContent;
      length_ = 0;
      continue;
    }
    if (state_ == State::kContent) {
      // Plain bytes make up nearly all of a data frame: copy them eight at a
      // time while the word holds none of the three special values.
      while (end - p >= 8 && capacity_ - length_ >= 8) {
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if (WordNeedsStuffing(word)) break;
        std::memcpy(content_ + length_, p, sizeof word);
        length_ += 8;
        p += 8;
      }
      if (p == end) break;
      const uint8_t b = *p++;
      if (b < FRAME_ESCAPE) {
        if (length_ == capacity_) {
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
        if (!sink.OnFrame(content_, length_)) break;
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
    if (length_ == capacity_) {
      state_ = State::kHunting;
      sink.OnReject(FrameReject::kTooLong);
      continue;
    }
    content_[length_++] = static_cast<uint8_t>(FRAME_ESCAPE + code);
    state_ = State::kContent;
  }
  if (used != nullptr) *used = static_cast<int>(p - data);
  return frames;
}

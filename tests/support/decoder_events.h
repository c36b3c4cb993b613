// A sink for FrameStreamDecoder that records what it reports, in order, for
// the decoder's tests and its fuzz harness. Header-only and free of
// GoogleTest, so that the fuzz harness can include it.
#ifndef TCPFLASH_TESTS_SUPPORT_DECODER_EVENTS_H_
#define TCPFLASH_TESTS_SUPPORT_DECODER_EVENTS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/frame_stream_decoder.h"
#include "tests/support/bytes.h"

// One report of the decoder: a frame's content, or a rejection.
struct DecoderEvent {
  bool frame;
  Bytes content;       // a frame's
  FrameReject reason;  // a rejection's
  bool operator==(const DecoderEvent& other) const {
    return frame == other.frame && (frame ? content == other.content : reason == other.reason);
  }
};

class EventRecorder : public FrameSink {
 public:
  // Keeps content[0,n) as the next frame; asks the decoder to stop behind it
  // when it is frame number stopAfter.
  bool OnFrame(const uint8_t* content, int n) override {
    frames.emplace_back(content, content + n);
    events.push_back({true, frames.back(), FrameReject::kBadEscape});
    return frames.size() != stopAfter;
  }
  void OnReject(FrameReject reason) override {
    rejects.push_back(reason);
    events.push_back({false, {}, reason});
  }

  std::vector<Bytes> frames;
  std::vector<FrameReject> rejects;
  std::vector<DecoderEvent> events;  // frames and rejections in the order they came
  size_t stopAfter = 0;              // stop behind this many frames (0: never)
};

#endif  // TCPFLASH_TESTS_SUPPORT_DECODER_EVENTS_H_

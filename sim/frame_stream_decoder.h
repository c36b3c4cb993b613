// Reassembles frames from a byte stream that arrives in blocks of any size,
// for the device side, which must take the tool's data frames at full speed.
#ifndef TCPFLASH_SIM_FRAME_STREAM_DECODER_H_
#define TCPFLASH_SIM_FRAME_STREAM_DECODER_H_

#include <cstdint>

#include "protocol/loader_commands.h"

// Longest decoded content accepted: a full data frame's length bytes,
// command byte and image bytes. Its raw form is at most DATA_FRAME_MAX bytes.
constexpr int STREAM_CONTENT_MAX = IMAGE_BLOCK_SIZE + 3;

enum class FrameReject {
  kBadEscape,  // an escape byte followed by a code other than 0x00 to 0x02
  kTooLong,    // more than STREAM_CONTENT_MAX decoded bytes
  kCutShort,   // a start marker inside a frame: the frame so far is dropped
};

// Receives what the decoder finds. content is valid only during the call.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void OnFrame(const uint8_t* content, int n) = 0;
  virtual void OnReject(FrameReject /*reason*/) {}
};

// Hunts for FRAME_START, collects up to FRAME_END, undoes the stuffing and
// hands each decoded content to the sink. Bytes outside frames are dropped; a
// partial frame is kept across Feed calls.
class FrameStreamDecoder {
 public:
  // Decodes data[0,n) and returns the number of frames delivered.
  int Feed(const uint8_t* data, int n, FrameSink& sink);
  // Forgets any partial frame (for a new connection).
  void Reset();

 private:
  enum class State { kHunting, kContent, kEscape };
  State state_ = State::kHunting;
  int length_ = 0;
  uint8_t content_[STREAM_CONTENT_MAX];
};

#endif  // TCPFLASH_SIM_FRAME_STREAM_DECODER_H_

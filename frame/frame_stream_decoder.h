// Reassembles frames from a byte stream that arrives in blocks of any size,
// for the receiving side of bulk traffic (the device taking the tool's data
// frames at full speed). Unlike ReceiveFrame it reads whole blocks, undoes the
// stuffing as it goes and keeps a partial frame across calls.
#ifndef TCPFLASH_FRAME_FRAME_STREAM_DECODER_H_
#define TCPFLASH_FRAME_FRAME_STREAM_DECODER_H_

#include <cstdint>

enum class FrameReject {
  kBadEscape,  // an escape byte followed by a code other than 0x00 to 0x02
  kTooLong,    // more decoded bytes than the decoder's capacity
  kCutShort,   // a start marker inside a frame: the frame so far is dropped
};

// Receives what the decoder finds.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // One decoded frame, content[0,n); content is valid only during the call.
  // Returns true to go on decoding, false to stop right behind this frame
  // (Feed then returns, and the rest of its block is left to the caller).
  virtual bool OnFrame(const uint8_t* content, int n) = 0;
  virtual void OnReject(FrameReject /*reason*/) {}
};

// Hunts for FRAME_START, collects up to FRAME_END, undoes the stuffing and
// hands each decoded content to the sink. Bytes outside frames are dropped.
// Allocates nothing: the content of the frame being collected lives in
// storage that the caller owns.
class FrameStreamDecoder {
 public:
  // storage[0,capacity) holds the decoded content of the frame being
  // collected and must outlive the decoder; a frame with more than capacity
  // decoded bytes is rejected as kTooLong. capacity below 0 counts as 0.
  FrameStreamDecoder(uint8_t* storage, int capacity);

  // Decodes data[0,n) (nothing for n <= 0); reads no byte outside that
  // range. Stops early behind a frame whose OnFrame returned false. Sets
  // *used (when not null) to the number of bytes taken: n, or fewer after
  // such a stop. Returns the number of frames delivered.
  int Feed(const uint8_t* data, int n, FrameSink& sink, int* used = nullptr);

  // Forgets any partial frame (for a new connection).
  void Reset();

  int capacity() const { return capacity_; }

 private:
  enum class State { kHunting, kContent, kEscape };
  State state_ = State::kHunting;
  int length_ = 0;
  uint8_t* const content_;
  const int capacity_;
};

#endif  // TCPFLASH_FRAME_FRAME_STREAM_DECODER_H_

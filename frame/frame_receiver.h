// Reassembles whole raw frames from a byte stream that arrives a few bytes
// at a time.
#ifndef TCPFLASH_FRAME_FRAME_RECEIVER_H_
#define TCPFLASH_FRAME_FRAME_RECEIVER_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frame/frame_codec.h"

// Size of the working chunk of one read, and so the largest maxLen.
constexpr int RECEIVE_CHUNK_SIZE = 256;

// Longest a ReceiveFrame call goes on without completing a frame, however
// many bytes arrive meanwhile: a peer that babbles or trickles bytes keeps
// resetting the idle count, and this ends its wait all the same.
constexpr int REPLY_DEADLINE_MS = 10000;

// Bytes that arrived after the end of a frame, handed to the next call before
// anything new is read. One store for the whole process: it survives a
// reconnect, so leftovers of one connection begin the next read on the next.
struct CarryOverStore {
  uint8_t bytes[1024];
  int count;
};
extern CarryOverStore CarryOver;

// Reads one raw frame into out[0,maxLen) through source.Receive(buffer,
// maxLen), which fills at most maxLen bytes and returns their count (0 for an
// empty read). Bytes before a FRAME_START are dropped; a second FRAME_START
// restarts the frame; a frame that outgrows maxLen is discarded and hunting
// resumes. Gives up when the number of consecutive empty reads exceeds
// maxIdle, or when deadlineMs have passed since the call began (checked after
// each chunk that completed no frame; 0 or less gives up after the first).
// out must hold maxLen bytes, 2 <= maxLen <= RECEIVE_CHUNK_SIZE. Returns the
// raw length (2 to maxLen) with out[0] == FRAME_START and out[length-1] ==
// FRAME_END; -1 after printing "Timeout\r\n"; -1 silently for a maxLen out
// of range.
template <typename Source>
int ReceiveFrame(Source& source, uint8_t* out, int maxLen, unsigned maxIdle,
                 int deadlineMs = REPLY_DEADLINE_MS) {
  if (maxLen < 2 || maxLen > RECEIVE_CHUNK_SIZE) return -1;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  uint8_t chunk[RECEIVE_CHUNK_SIZE];
  bool inFrame = false;
  int stored = 0;
  unsigned idle = 0;
  for (;;) {
    int size;
    if (CarryOver.count > 0) {
      size = CarryOver.count;
      std::memcpy(chunk, CarryOver.bytes, static_cast<size_t>(size));
    } else {
      size = source.Receive(chunk, maxLen);
      if (size < 0) size = 0;
      if (size > maxLen) size = maxLen;
    }
    CarryOver.count = 0;

    for (int i = 0; i < size; ++i) {
      const uint8_t b = chunk[i];
      idle = 0;
      if (!inFrame) {
        if (b == FRAME_START) {
          out[0] = b;
          stored = 1;
          inFrame = true;
        }
      } else if (stored == maxLen) {
        stored = 0;
        inFrame = false;
      } else if (b == FRAME_START) {
        out[0] = b;
        stored = 1;
      } else {
        out[stored++] = b;
        if (b == FRAME_END) {
          CarryOver.count = size - i - 1;
          std::memcpy(CarryOver.bytes, chunk + i + 1, static_cast<size_t>(CarryOver.count));
          return stored;
        }
      }
    }

    if (++idle > maxIdle || std::chrono::steady_clock::now() >= giveUp) {
      std::printf("Timeout\r\n");
      return -1;
    }
  }
}

#endif  // TCPFLASH_FRAME_FRAME_RECEIVER_H_

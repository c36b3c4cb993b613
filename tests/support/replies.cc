#include "tests/support/replies.h"

#include <gtest/gtest.h>

#include "protocol/device_peer.h"

namespace {

// The raw reply build(args..., out) writes into out.
template <typename Build, typename... Args>
Bytes Built(Build build, Args... args) {
  uint8_t r[DEVICE_REPLY_MAX];
  const int n = build(args..., r);
  return Bytes(r, r + n);
}

}  // namespace

Bytes AckReply(uint8_t seq, uint8_t status) { return Built(BuildAckReply, seq, status); }
Bytes StatusReply(uint8_t seq, uint8_t mode) { return Built(BuildStatusReply, seq, mode); }
Bytes AppVersionReply(const char* version) { return Built(BuildAppVersionReply, version); }
Bytes LoaderVersionReply(const char* text) {
  return Built(static_cast<int (*)(const char*, uint8_t*)>(BuildLoaderVersionReply), text);
}
Bytes StateReply(uint8_t state) { return Built(BuildStateReply, state); }
Bytes ResetReply(uint8_t status) { return Built(BuildResetReply, status); }

std::vector<Bytes> DecodeFrames(const Bytes& stream) {
  std::vector<Bytes> frames;
  Bytes current;
  bool inFrame = false;
  for (size_t i = 0; i < stream.size(); ++i) {
    const uint8_t b = stream[i];
    if (b == 0xFE) {
      inFrame = true;
      current.clear();
    } else if (!inFrame) {
      continue;
    } else if (b == 0xFF) {
      frames.push_back(current);
      inFrame = false;
    } else if (b == 0xFD) {
      const uint8_t code = ++i < stream.size() ? stream[i] : 0xFF;
      EXPECT_LE(code, 2) << "bad escape code at " << i;
      current.push_back(static_cast<uint8_t>(0xFD + code));
    } else {
      current.push_back(b);
    }
  }
  return frames;
}

// A scripted device for protocol tests: a listener on a free loopback port,
// the tool's endpoint connected to it, and helpers to queue replies and to
// read back what the tool sent.
#ifndef TCPFLASH_TESTS_LOOPBACK_PEER_H_
#define TCPFLASH_TESTS_LOOPBACK_PEER_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_receiver.h"
#include "net/tcp_endpoint.h"
#include "protocol/device_peer.h"

using Bytes = std::vector<uint8_t>;

// Accepts the connection a client has just made, polling for up to about
// two seconds. Returns what the last Accept returned: 0 accepted.
inline int AcceptWaiting(TcpEndpoint& server) {
  int accepted = 1;
  for (int i = 0; i < 2000 && accepted == 1; ++i) {
    accepted = server.Accept();
    if (accepted == 1) Sleep(1);
  }
  return accepted;
}

class LoopbackPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CarryOver.count = 0;
    device.SetTarget("", "", 0);
    ASSERT_EQ(device.Listen(), 0);
    ASSERT_EQ(tool.SetTarget("", "127.0.0.1", device.LocalPort()), 0);
    ASSERT_EQ(tool.Connect(), 0);
    ASSERT_EQ(AcceptWaiting(device), 0);
  }
  void TearDown() override {
    tool.Close();
    device.Close();
  }

  // Queues bytes the device sends; the tool reads them when it wants a reply.
  void Queue(const Bytes& bytes) {
    ASSERT_EQ(device.Send(bytes.data(), static_cast<int>(bytes.size())), 0);
  }

  // Everything the tool has sent so far.
  Bytes Sent() {
    Bytes got;
    uint8_t block[4096];
    for (;;) {
      const int n = device.ReceiveBlock(block, sizeof block, 50);
      if (n <= 0) return got;
      got.insert(got.end(), block, block + n);
    }
  }

  // Hangs up on the tool, which then sees only empty reads.
  void HangUp() {
    device.Close();
    uint8_t byte;
    while (tool.dataSocket != INVALID_SOCKET) tool.Receive(&byte, 1);
  }

  void StartCapture() { testing::internal::CaptureStdout(); }
  std::string Printed() { return testing::internal::GetCapturedStdout(); }

  TcpEndpoint device;
  TcpEndpoint tool;
};

// The device's replies as raw frames.
inline Bytes Raw(const uint8_t* reply, int n) { return Bytes(reply, reply + n); }
inline Bytes AckReply(uint8_t seq, uint8_t status = 0) {
  uint8_t r[DEVICE_REPLY_MAX];
  return Raw(r, BuildAckReply(seq, status, r));
}
inline Bytes StatusReply(uint8_t seq, uint8_t mode) {
  uint8_t r[DEVICE_REPLY_MAX];
  return Raw(r, BuildStatusReply(seq, mode, r));
}
inline Bytes AppVersionReply(const char* version) {
  uint8_t r[DEVICE_REPLY_MAX];
  return Raw(r, BuildAppVersionReply(version, r));
}
inline Bytes LoaderVersionReply(const char* text) {
  uint8_t r[DEVICE_REPLY_MAX];
  return Raw(r, BuildLoaderVersionReply(text, r));
}
inline Bytes StateReply(uint8_t state) {
  uint8_t r[DEVICE_REPLY_MAX];
  return Raw(r, BuildStateReply(state, r));
}
inline Bytes ResetReply(uint8_t status) {
  uint8_t r[DEVICE_REPLY_MAX];
  return Raw(r, BuildResetReply(status, r));
}

// Splits a stream of raw frames into their decoded contents. Bytes outside
// frames are ignored; a bad escape code fails the test.
inline std::vector<Bytes> DecodeFrames(const Bytes& stream) {
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

#endif  // TCPFLASH_TESTS_LOOPBACK_PEER_H_

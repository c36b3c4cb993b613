#include "tests/support/loopback.h"

#include "frame/frame_receiver.h"

int AcceptWaiting(TcpEndpoint& server) {
  int accepted = 1;
  for (int i = 0; i < 2000 && accepted == 1; ++i) {
    accepted = server.Accept();
    if (accepted == 1) Sleep(1);
  }
  return accepted;
}

int ConnectLoopback(TcpEndpoint& endpoint, int port) {
  if (endpoint.SetTarget("", "127.0.0.1", port) != 0) return -1;
  return endpoint.Connect();
}

int ReconnectWaiting(TcpEndpoint& endpoint, int attempts, int pauseMs) {
  int connected = -1;
  for (int attempt = 0; attempt < attempts && connected != 0; ++attempt) {
    Sleep(static_cast<unsigned long>(pauseMs));
    connected = endpoint.Connect();
  }
  return connected;
}

int UnusedLoopbackPort() {
  TcpEndpoint probe;
  if (probe.SetTarget("", "", 0) != 0 || probe.Listen() != 0) return 0;
  const int port = probe.LocalPort();
  probe.Close();
  return port;
}

Bytes ReceiveUntilQuiet(TcpEndpoint& endpoint, int waitMs) {
  Bytes got;
  Bytes block(65536);
  for (;;) {
    const int n = endpoint.ReceiveBlock(block.data(), static_cast<int>(block.size()), waitMs);
    if (n <= 0) return got;
    got.insert(got.end(), block.begin(), block.begin() + n);
  }
}

void LoopbackTest::SetUp() {
  ASSERT_EQ(device.SetTarget("", "", 0), 0);
  ASSERT_EQ(device.Listen(), 0);
  port = device.LocalPort();
  ASSERT_GT(port, 0);
  ASSERT_EQ(tool.SetTarget("", "127.0.0.1", port), 0);
}

void LoopbackTest::TearDown() {
  tool.Close();
  device.Close();
}

void LoopbackTest::ConnectPair() {
  ASSERT_EQ(tool.Connect(), 0);
  ASSERT_EQ(AcceptWaiting(device), 0);
}

void LoopbackPeerTest::SetUp() {
  CarryOver.count = 0;
  LoopbackTest::SetUp();
  if (HasFatalFailure()) return;
  ConnectPair();
}

void LoopbackPeerTest::Queue(const Bytes& bytes) {
  ASSERT_EQ(device.Send(bytes.data(), static_cast<int>(bytes.size())), 0);
}

Bytes LoopbackPeerTest::Sent() { return ReceiveUntilQuiet(device, 50); }

void LoopbackPeerTest::HangUp() {
  device.Close();
  // Each empty read waits a few milliseconds: the bound only catches a
  // connection that never ends.
  uint8_t byte;
  for (int i = 0; i < 2000 && tool.dataSocket != INVALID_SOCKET; ++i) tool.Receive(&byte, 1);
  ASSERT_EQ(tool.dataSocket, INVALID_SOCKET) << "the tool never saw the hang-up";
}

void LoopbackPeerTest::StartCapture() { testing::internal::CaptureStdout(); }

std::string LoopbackPeerTest::Printed() { return testing::internal::GetCapturedStdout(); }

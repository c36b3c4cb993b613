#include "net/tcp_endpoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "tests/loopback_peer.h"

namespace {

// A listener on a free loopback port and a client endpoint aimed at it.
class LoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server.SetTarget("", "", 0), 0);
    ASSERT_EQ(server.Listen(), 0);
    port = server.LocalPort();
    ASSERT_GT(port, 0);
    ASSERT_EQ(client.SetTarget("", "127.0.0.1", port), 0);
  }
  void TearDown() override {
    client.Close();
    server.Close();
  }

  // Connects the client and accepts it on the server side.
  void ConnectPair() {
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(AcceptWaiting(server), 0);
  }

  // Reads through Receive until count bytes came or 2000 reads went by.
  std::string ReadAll(TcpEndpoint& endpoint, size_t count) {
    std::string got;
    uint8_t buffer[4];
    for (int i = 0; i < 2000 && got.size() < count; ++i) {
      const int n = endpoint.Receive(buffer, 256);
      EXPECT_LE(n, 4);
      got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
    }
    return got;
  }

  TcpEndpoint server;
  TcpEndpoint client;
  int port = 0;
};

TEST_F(LoopbackTest, ReceiveHandsOverAtMostFourBytesAtATime) {
  ConnectPair();
  EXPECT_STREQ(server.peerAddress, "127.0.0.1");
  const uint8_t data[] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(client.Send(data, 6), 0);
  uint8_t buffer[8] = {};
  int first = 0;
  for (int i = 0; i < 2000 && first == 0; ++i) first = server.Receive(buffer, 256);
  ASSERT_GT(first, 0);
  EXPECT_LE(first, 4);
  EXPECT_EQ(std::string(ReadAll(server, 6 - static_cast<size_t>(first))),
            std::string("\1\2\3\4\5\6").substr(static_cast<size_t>(first)));
}

TEST_F(LoopbackTest, LargeSendArrivesWholeAndInOrder) {
  ConnectPair();
  std::string data(4 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  // Far more than the socket buffers hold: Send must carry on after short
  // writes while the reader drains.
  std::string got;
  std::thread reader([&] {
    static uint8_t block[65536];
    for (;;) {
      const int n = server.ReceiveBlock(block, sizeof block, 5000);
      if (n <= 0) break;
      got.append(reinterpret_cast<char*>(block), static_cast<size_t>(n));
    }
  });
  EXPECT_EQ(
      client.Send(reinterpret_cast<const uint8_t*>(data.data()), static_cast<int>(data.size())), 0);
  EXPECT_EQ(client.Send(reinterpret_cast<const uint8_t*>(data.data()), 0), 0);
  client.Close();
  reader.join();
  EXPECT_TRUE(got == data) << "received " << got.size() << " of " << data.size() << " bytes";
}

TEST_F(LoopbackTest, SilentPeerGivesEmptyReadsSoon) {
  ConnectPair();
  uint8_t buffer[4];
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(client.Receive(buffer, 4), 0);
  // Ten waits of a few milliseconds each; the bound only catches a wait
  // that does not end.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(LoopbackTest, PeerShutdownClosesTheDataSocket) {
  ConnectPair();
  server.Close();
  uint8_t buffer[4];
  int n = -1;
  for (int i = 0; i < 2000 && client.dataSocket != INVALID_SOCKET; ++i) {
    n = client.Receive(buffer, 4);
    EXPECT_EQ(n, 0);
  }
  EXPECT_EQ(client.dataSocket, INVALID_SOCKET);
  EXPECT_EQ(client.Receive(buffer, 4), 0);
  EXPECT_EQ(client.Send(buffer, 4), -1);
}

TEST_F(LoopbackTest, SendToAClosedPeerFailsWithoutKillingTheProcess) {
  ConnectPair();
  server.Close();
  static uint8_t block[65536];
  int result = 0;
  for (int i = 0; i < 200 && result == 0; ++i) {
    result = client.Send(block, sizeof block);
    if (result == 0) Sleep(5);
  }
  EXPECT_EQ(result, -1);
}

TEST_F(LoopbackTest, PortKeepsOnlyItsLowSixteenBits) {
  ASSERT_EQ(client.SetTarget("", "127.0.0.1", port + 65536 * 3), 0);
  ConnectPair();
}

TEST_F(LoopbackTest, AcceptWithNoneWaitingChangesNothing) {
  EXPECT_EQ(server.PollAccept(), 1);
  EXPECT_EQ(server.Accept(), 1);
  EXPECT_EQ(server.dataSocket, INVALID_SOCKET);
  EXPECT_STREQ(server.peerAddress, "---");
}

TEST_F(LoopbackTest, ReconnectAfterClose) {
  ConnectPair();
  client.Close();
  EXPECT_EQ(client.dataSocket, INVALID_SOCKET);
  ConnectPair();
  const uint8_t hello[] = {'h', 'i'};
  ASSERT_EQ(client.Send(hello, 2), 0);
  EXPECT_EQ(ReadAll(server, 2), "hi");
}

TEST(TcpEndpointTest, ConnectFailures) {
  testing::internal::CaptureStdout();
  TcpEndpoint endpoint;
  ASSERT_EQ(endpoint.startupError, 0);
  // The dotted form of INADDR_NONE is no usable address.
  ASSERT_EQ(endpoint.SetTarget("", "255.255.255.255", 1), 0);
  EXPECT_EQ(endpoint.Connect(), -3);
  ASSERT_EQ(endpoint.SetTarget("", "abcd", 1), 0);
  EXPECT_EQ(endpoint.Connect(), -3);

  // A port nobody listens on: take a free one and release it again.
  TcpEndpoint probe;
  probe.SetTarget("", "", 0);
  ASSERT_EQ(probe.Listen(), 0);
  const int freePort = probe.LocalPort();
  probe.Close();
  ASSERT_EQ(endpoint.SetTarget("", "127.0.0.1", freePort), 0);
  EXPECT_EQ(endpoint.Connect(), -1);
  EXPECT_EQ(endpoint.dataSocket, INVALID_SOCKET) << "the failed socket is closed at once";
  EXPECT_EQ(endpoint.Close(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "s err\ns err\nconnect err\n");
}

TEST(TcpEndpointTest, FreshEndpoint) {
  TcpEndpoint endpoint;
  EXPECT_STREQ(endpoint.peerAddress, "---");
  EXPECT_EQ(endpoint.Close(), 0);
  EXPECT_EQ(endpoint.Accept(), -4) << "no Listen before";
  uint8_t buffer[4];
  EXPECT_EQ(endpoint.Receive(buffer, 4), 0);
  EXPECT_EQ(endpoint.Send(buffer, 4), -1);
}

TEST(TcpEndpointTest, SetTargetRefusesTextsThatDoNotFit) {
  TcpEndpoint endpoint;
  ASSERT_EQ(endpoint.SetTarget("", "127.0.0.1", 7), 0);
  EXPECT_EQ(endpoint.SetTarget("", "123456789012345678901", 8), -1);
  EXPECT_EQ(endpoint.SetTarget(std::string(255, 'h').c_str(), "1.2.3.4", 8), -1);
  EXPECT_STREQ(endpoint.address, "127.0.0.1");
  EXPECT_EQ(endpoint.port, 7);
  EXPECT_EQ(endpoint.SetTarget(std::string(254, 'h').c_str(), "12345678901234567890", 9), 0);
  EXPECT_STREQ(endpoint.address, "12345678901234567890");
}

TEST(TcpEndpointTest, ResolveDottedAddress) {
  TcpEndpoint endpoint;  // starts the sockets library
  const void* resolved = TcpEndpoint::ResolveAddress("127.0.0.1");
  ASSERT_NE(resolved, nullptr);
  const uint8_t loopback[] = {127, 0, 0, 1};
  EXPECT_EQ(std::memcmp(resolved, loopback, 4), 0);
}

}  // namespace

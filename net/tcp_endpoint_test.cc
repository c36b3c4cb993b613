#include "net/tcp_endpoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/testutil.h"

namespace {

using std::chrono::milliseconds;

// A pattern that shows a lost, doubled or reordered block.
Bytes Pattern(size_t size) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return data;
}

// Hangs up on the peer of a test's send unless disarmed (destroyed) within
// limitMs: a send that ignored its stall limit then fails late instead of
// hanging the test.
class Watchdog {
 public:
  Watchdog(TcpEndpoint& receiver, int limitMs)
      : thread_([this, &receiver, limitMs] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!disarmed_.wait_for(lock, milliseconds(limitMs), [this] { return done_; })) {
            receiver.CloseData();
          }
        }) {}
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    disarmed_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable disarmed_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the rest is made
};

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

TEST_F(LoopbackTest, ReceiveHandsOverAtMostFourBytesAtATime) {
  ConnectPair();
  EXPECT_STREQ(device.peerAddress, "127.0.0.1");
  const uint8_t data[] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(tool.Send(data, 6), 0);
  uint8_t buffer[8] = {};
  int first = 0;
  for (int i = 0; i < 2000 && first == 0; ++i) first = device.Receive(buffer, 256);
  ASSERT_GT(first, 0);
  EXPECT_LE(first, 4);
  EXPECT_EQ(std::string(ReadAll(device, 6 - static_cast<size_t>(first))),
            std::string("\1\2\3\4\5\6").substr(static_cast<size_t>(first)));
}

TEST_F(LoopbackTest, LargeSendArrivesWholeAndInOrder) {
  ConnectPair();
  const Bytes data = Pattern(4 << 20);
  // Far more than the socket buffers hold: Send must carry on after short
  // writes while the reader drains.
  Bytes got;
  std::thread reader([&] { got = ReceiveUntilQuiet(device, 5000); });
  EXPECT_EQ(tool.Send(data.data(), static_cast<int>(data.size())), 0);
  EXPECT_EQ(tool.Send(data.data(), 0), 0);
  tool.Close();
  reader.join();
  EXPECT_TRUE(got == data) << "received " << got.size() << " of " << data.size() << " bytes";
}

TEST_F(LoopbackTest, SendIntoAPeerThatNeverReadsFailsAfterTheStallLimit) {
  ConnectPair();
  // Both ends: the tool's connected socket and the simulator's accepted one.
  TcpEndpoint* const senders[] = {&tool, &device};
  // Far more than the socket buffers of a connection nobody reads from hold.
  static const Bytes data = Pattern(32 << 20);
  for (TcpEndpoint* sender : senders) {
    SCOPED_TRACE(sender == &tool ? "connected socket" : "accepted socket");
    sender->sendStallLimitMs = 300;
    Watchdog watchdog(sender == &tool ? device : tool, 20000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sender->Send(data.data(), static_cast<int>(data.size())), -1);
    const long long tookMs = MillisecondsSince(start);
    EXPECT_GE(tookMs, 300);
    // Without the limit the send would wait for ever; the margin is for a
    // loaded machine.
    EXPECT_LT(tookMs, 10000);
  }
}

TEST_F(LoopbackTest, SendOutlastsReadingPausesShorterThanTheStallLimit) {
  ConnectPair();
  // The reader stops three times for 800 ms, 2400 ms in all: each pause is
  // well inside the limit, their sum is not, and the send must still go
  // through, because the limit counts only time without progress.
  const int pauseMs = 800;
  const int pauses = 3;
  tool.sendStallLimitMs = 2000;
  const Bytes data = Pattern(64 << 20);
  Bytes got;
  std::thread reader([&] {
    static uint8_t block[65536];
    for (int round = 0; round <= pauses; ++round) {
      if (round < pauses) Sleep(pauseMs);
      const size_t goal = round < pauses ? got.size() + (1 << 20) : data.size();
      while (got.size() < goal) {
        const int n = device.ReceiveBlock(block, sizeof block, 5000);
        if (n <= 0) return;
        got.insert(got.end(), block, block + n);
      }
    }
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tool.Send(data.data(), static_cast<int>(data.size())), 0);
  // The socket buffers hold far less than 64 MiB, so the send cannot have
  // ended before the last pause did.
  EXPECT_GE(MillisecondsSince(start), pauseMs * pauses);
  reader.join();
  EXPECT_TRUE(got == data) << "received " << got.size() << " of " << data.size() << " bytes";
}

TEST_F(LoopbackTest, SilentPeerGivesEmptyReadsSoon) {
  ConnectPair();
  uint8_t buffer[4];
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(tool.Receive(buffer, 4), 0);
  // Ten waits of a few milliseconds each; the bound only catches a wait
  // that does not end.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(LoopbackTest, PeerShutdownClosesTheDataSocket) {
  ConnectPair();
  device.Close();
  uint8_t buffer[4];
  int n = -1;
  for (int i = 0; i < 2000 && tool.dataSocket != INVALID_SOCKET; ++i) {
    n = tool.Receive(buffer, 4);
    EXPECT_EQ(n, 0);
  }
  EXPECT_EQ(tool.dataSocket, INVALID_SOCKET);
  EXPECT_EQ(tool.Receive(buffer, 4), 0);
  EXPECT_EQ(tool.Send(buffer, 4), -1);
}

TEST_F(LoopbackTest, SendToAClosedPeerFailsWithoutKillingTheProcess) {
  ConnectPair();
  device.Close();
  static uint8_t block[65536];
  int result = 0;
  for (int i = 0; i < 200 && result == 0; ++i) {
    result = tool.Send(block, sizeof block);
    if (result == 0) Sleep(5);
  }
  EXPECT_EQ(result, -1);
}

TEST_F(LoopbackTest, PortKeepsOnlyItsLowSixteenBits) {
  ASSERT_EQ(tool.SetTarget("", "127.0.0.1", port + 65536 * 3), 0);
  ConnectPair();
}

TEST_F(LoopbackTest, AcceptWithNoneWaitingChangesNothing) {
  EXPECT_EQ(device.PollAccept(), 1);
  EXPECT_EQ(device.Accept(), 1);
  EXPECT_EQ(device.dataSocket, INVALID_SOCKET);
  EXPECT_STREQ(device.peerAddress, "---");
}

TEST_F(LoopbackTest, ReconnectAfterClose) {
  ConnectPair();
  tool.Close();
  EXPECT_EQ(tool.dataSocket, INVALID_SOCKET);
  ConnectPair();
  const uint8_t hello[] = {'h', 'i'};
  ASSERT_EQ(tool.Send(hello, 2), 0);
  EXPECT_EQ(ReadAll(device, 2), "hi");
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
  // Forms the system's parser reads as other hosts (127.0.0.8, 127.0.0.1).
  ASSERT_EQ(endpoint.SetTarget("", "127.0.0.010", 1), 0);
  EXPECT_EQ(endpoint.Connect(), -3);
  ASSERT_EQ(endpoint.SetTarget("", "127.1", 1), 0);
  EXPECT_EQ(endpoint.Connect(), -3);
  EXPECT_EQ(endpoint.dataSocket, INVALID_SOCKET) << "no socket for a refused address";

  const int freePort = UnusedLoopbackPort();
  ASSERT_GT(freePort, 0);
  ASSERT_EQ(endpoint.SetTarget("", "127.0.0.1", freePort), 0);
  EXPECT_EQ(endpoint.Connect(), -1);
  EXPECT_EQ(endpoint.dataSocket, INVALID_SOCKET) << "the failed socket is closed at once";
  EXPECT_EQ(endpoint.Close(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "s err\ns err\ns err\ns err\nconnect err\n");
}

// Every attempt that makes no connection ends the same way, whether the peer
// refuses at once or never answers.
TEST(TcpEndpointTest, ConnectAttemptsEndWithinTheirTimeOut) {
  // A listener with a backlog of 1 that never accepts: once its queue is
  // full, the system drops further connection requests without an answer.
  TcpEndpoint listener;
  ASSERT_EQ(listener.SetTarget("", "", 0), 0);
  ASSERT_EQ(listener.Listen(), 0);
  const int fullPort = listener.LocalPort();
  testing::internal::CaptureStdout();
  TcpEndpoint fillers[8];
  int queued = 0;
  for (TcpEndpoint& filler : fillers) {
    filler.connectTimeoutMs = 300;
    ASSERT_EQ(filler.SetTarget("", "127.0.0.1", fullPort), 0);
    if (filler.Connect() != 0) break;
    ++queued;
  }
  EXPECT_LT(queued, 8) << "the accept queue never filled";

  const int refusingPort = UnusedLoopbackPort();
  ASSERT_GT(refusingPort, 0);

  struct Case {
    const char* what;
    int port;
    int timeoutMs;
    long long atLeastMs;
    long long belowMs;  // generous: catches a wait that ignores the time-out
  };
  const Case cases[] = {
      {"no answer", fullPort, 1000, 1000, 5000},
      {"refused", refusingPort, 30000, 0, 5000},
  };
  TcpEndpoint endpoint;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(endpoint.SetTarget("", "127.0.0.1", c.port), 0);
    endpoint.connectTimeoutMs = c.timeoutMs;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(endpoint.Connect(), -1);
    const long long tookMs = MillisecondsSince(start);
    EXPECT_GE(tookMs, c.atLeastMs);
    EXPECT_LT(tookMs, c.belowMs);
    EXPECT_EQ(endpoint.dataSocket, INVALID_SOCKET) << "the failed socket is closed at once";
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "connect err\nconnect err\nconnect err\n");

  // Once the listener takes the queued connections, the same endpoint connects.
  for (int i = 0; i < queued; ++i) {
    ASSERT_EQ(AcceptWaiting(listener), 0);
    listener.CloseData();
  }
  ASSERT_EQ(endpoint.SetTarget("", "127.0.0.1", fullPort), 0);
  endpoint.connectTimeoutMs = 10000;
  EXPECT_EQ(endpoint.Connect(), 0);
  endpoint.Close();
  for (TcpEndpoint& filler : fillers) filler.Close();
  listener.Close();
}

TEST(TcpEndpointTest, FreshEndpoint) {
  TcpEndpoint endpoint;
  EXPECT_STREQ(endpoint.peerAddress, "---");
  EXPECT_EQ(endpoint.connectTimeoutMs, 5000);
  EXPECT_EQ(endpoint.sendStallLimitMs, 60000);
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

// Loopback connections for the tests: a listener on a free port of 127.0.0.1
// and the tool's endpoint aimed at it, the waits around connecting, and a
// scripted device for the protocol tests.
#ifndef TCPFLASH_TESTS_SUPPORT_LOOPBACK_H_
#define TCPFLASH_TESTS_SUPPORT_LOOPBACK_H_

#include <gtest/gtest.h>

#include <string>

#include "net/tcp_endpoint.h"
#include "tests/support/bytes.h"

// Accepts the connection a client has just made, polling for up to about
// two seconds. Returns what the last Accept returned: 0 accepted.
int AcceptWaiting(TcpEndpoint& server);

// Aims endpoint at 127.0.0.1:port and connects. Returns what Connect
// returned (0 connected), or -1 when the target was refused.
int ConnectLoopback(TcpEndpoint& endpoint, int port);

// Connects endpoint to its target again, as the tool does once the board
// switched to its update loader: up to attempts tries, each behind a pause
// of pauseMs. Returns what the last Connect returned: 0 connected.
int ReconnectWaiting(TcpEndpoint& endpoint, int attempts = 50, int pauseMs = 100);

// A loopback port nobody listens on, so that a connection to it is refused:
// a free one, taken and given back. Returns 0 when none could be taken.
int UnusedLoopbackPort();

// Everything that arrives at endpoint until waitMs pass without a byte or the
// connection ends, read in blocks of up to 64 KiB.
Bytes ReceiveUntilQuiet(TcpEndpoint& endpoint, int waitMs);

// A listener on a free loopback port (device) and an endpoint aimed at it
// (tool), not connected yet: for the tests of the endpoint itself.
class LoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Connects the tool and accepts it on the device's side.
  void ConnectPair();

  TcpEndpoint device;
  TcpEndpoint tool;
  int port = 0;  // the device's
};

// A scripted device for the protocol tests: the pair connected, the
// receiver's carry-over empty, and helpers to queue replies and to read back
// what the tool sent.
class LoopbackPeerTest : public LoopbackTest {
 protected:
  void SetUp() override;

  // Queues bytes the device sends; the tool reads them when it wants a reply.
  void Queue(const Bytes& bytes);

  // Everything the tool has sent so far.
  Bytes Sent();

  // Hangs up on the tool, which then sees only empty reads.
  void HangUp();

  void StartCapture();
  std::string Printed();
};

#endif  // TCPFLASH_TESTS_SUPPORT_LOOPBACK_H_

// One TCP connection to the device (or, on the server side, from a tool),
// plus the start of the sockets library for the process.
#ifndef TCPFLASH_NET_TCP_ENDPOINT_H_
#define TCPFLASH_NET_TCP_ENDPOINT_H_

#include <cstdint>

#include "net/socket_layer.h"

// How long one Receive waits for data before it reports an empty read. The
// frame receiver counts empty reads, so this bounds the wait for a silent
// device to about a thousand times this value.
constexpr int RECEIVE_WAIT_MS = 5;

// Longest wait for one connection attempt; an attempt not answered in that
// time fails like a refused one. The default of connectTimeoutMs.
constexpr int CONNECT_TIMEOUT_MS = 5000;

// Longest time a Send may wait while the connection takes no byte at all; a
// peer that reads slowly but steadily never reaches it. The default of
// sendStallLimitMs.
constexpr int SEND_STALL_LIMIT_MS = 60000;

// Longest texts SetTarget stores.
constexpr int HOST_NAME_MAX_CHARS = 254;
constexpr int ADDRESS_MAX_CHARS = 20;

constexpr int CONNECT_FAILED = -1;
constexpr int CONNECT_NO_SOCKET = -2;
constexpr int CONNECT_BAD_ADDRESS = -3;

class TcpEndpoint {
 public:
  // Starts the sockets library (version 1.1); startupError tells the outcome.
  TcpEndpoint();
  TcpEndpoint(const TcpEndpoint&) = delete;
  TcpEndpoint& operator=(const TcpEndpoint&) = delete;

  // Stores the target for every later Connect (client) or Listen (server, only
  // the port counts). An empty host name means the address text names the
  // target. Returns 0, or -1 with nothing stored when hostName exceeds
  // HOST_NAME_MAX_CHARS or address exceeds ADDRESS_MAX_CHARS characters.
  int SetTarget(const char* hostName, const char* address, int port);

  // Opens a new data socket to the stored target; only the low 16 bits of the
  // port count. Without a host name (or when it does not resolve) the address
  // text must be a plain dotted IPv4 address as ParseIpv4Address reads it
  // (net/ipv4_address.h); any other text is never connected to. Waits at
  // most connectTimeoutMs for the connection. Returns 0 connected;
  // CONNECT_BAD_ADDRESS the address text is no such address ("s err\n");
  // CONNECT_NO_SOCKET no socket ("s err\n"); CONNECT_FAILED no connection,
  // refused or not made in time ("connect err\n"), the failed socket
  // already closed. The data socket is non-blocking: every wait on it
  // happens in this class, with a bound.
  int Connect();

  // Sends data[0,length) whole, continuing short writes and waiting while the
  // connection takes nothing. Returns 0 when every byte went out (or
  // length <= 0); -1 when a send failed, no socket is open, or the connection
  // took no byte for sendStallLimitMs (some bytes may have gone out by then).
  int Send(const uint8_t* data, int length);

  // Reads up to 4 bytes into buffer[0,4), whatever length says; buffer must
  // hold 4 bytes. Waits at most RECEIVE_WAIT_MS for data. Returns the count
  // read (1 to 4), or 0 when nothing came, a read failed or no socket is open.
  // When the peer has shut the connection down the data socket is closed.
  int Receive(uint8_t* buffer, int length);

  // Reads up to length bytes into buffer[0,length), waiting at most waitMs
  // for the first. Returns the count read; 0 when nothing came in time; -1
  // when the peer has shut the connection down or a read failed (the data
  // socket is then closed) or no socket is open. For peers that take bulk
  // data; the tool itself reads through Receive.
  int ReceiveBlock(uint8_t* buffer, int length, int waitMs);

  // Closes the data and the listening socket, if open. Always returns 0.
  int Close();

  // Listens on the stored port on every local address, backlog 1. Returns 0
  // listening; -1 no socket; -2 bind failed; -3 listen failed.
  int Listen();

  // Takes a waiting connection as the data socket, in non-blocking mode like
  // Connect's. Returns 0 accepted (and peerAddress set); 1 none waiting; -4
  // accept failed (or the socket could not be made non-blocking, and is
  // closed); -5 the peer's address cannot be read.
  int Accept();

  // Returns 1 when no connection is waiting on the listening socket within
  // 10 microseconds, 0 otherwise (a select failure included).
  int PollAccept();

  // Closes only the data socket, if open, so that a server hangs up on its
  // peer and stays reachable. Always returns 0.
  int CloseData();

  // Drops the data socket's connection with a reset instead of an orderly
  // close (linger on with a time of 0, then close), as a board does that
  // restarts or loses power: the peer's next read or send fails at once
  // rather than meeting an end of stream. The listening socket stays open.
  // Returns 0 reset and closed; -1 no data socket open, or the reset could
  // not be asked for (the socket is closed all the same).
  int AbortData();

  // The port the listening socket is bound to (useful after Listen on port 0),
  // or -1 when it cannot be read.
  int LocalPort();

  // Looks up name as a plain dotted address (ParseIpv4Address), then as a
  // host name. Returns a pointer to
  // its 4-byte IPv4 address in network byte order, valid until the next
  // look-up, or null.
  static const void* ResolveAddress(const char* name);

  WSADATA wsaData;
  char peerAddress[256];
  int startupError;
  char hostName[HOST_NAME_MAX_CHARS + 1];
  char address[ADDRESS_MAX_CHARS + 1];
  int port;
  SOCKET listenSocket;
  SOCKET dataSocket;
  int verbose;
  HOSTENT* hostEntry;
  sockaddr_in remoteAddr;
  sockaddr_in localAddr;
  // Bounds of the waits, CONNECT_TIMEOUT_MS and SEND_STALL_LIMIT_MS from
  // construction; tests and the simulator set their own. Negative counts as 0.
  int connectTimeoutMs;
  int sendStallLimitMs;

 private:
  void CloseSocket(SOCKET* s);
};

#endif  // TCPFLASH_NET_TCP_ENDPOINT_H_

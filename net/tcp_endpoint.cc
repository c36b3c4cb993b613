#include "net/tcp_endpoint.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "net/ipv4_address.h"

namespace {

using Clock = std::chrono::steady_clock;

// Copies src into dst[0,max] when it has at most max characters.
bool CopyBounded(char* dst, const char* src, int max) {
  const size_t n = strnlen(src, static_cast<size_t>(max) + 1);
  if (n > static_cast<size_t>(max)) return false;
  std::memcpy(dst, src, n + 1);
  return true;
}

uint16_t LowPort(int port) { return htons(static_cast<uint16_t>(port & 0xFFFF)); }

// Waits at most waitMicroseconds for s to become readable (data, an end of
// stream or a waiting connection). Returns what select returns: above 0
// readable, 0 not in time, below 0 failed.
int WaitReadable(SOCKET s, long waitMicroseconds) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait{waitMicroseconds / 1000000L, waitMicroseconds % 1000000L};
  return select(static_cast<int>(s + 1), &readable, nullptr, nullptr, &wait);
}

// Microseconds from now until deadline, 0 when it has passed.
long long MicrosecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  return left.count() > 0 ? left.count() : 0;
}

Clock::time_point DeadlineIn(int milliseconds) {
  return Clock::now() + std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0);
}

// Waits at most waitMicroseconds for s to take bytes, or for a connect on it
// to end. With failed given, a connect that failed ends the wait too: Windows
// reports that in the except set, and *failed is then true (POSIX reports it
// as writable with SO_ERROR set). Returns what select returns: above 0 ready,
// 0 not in time, below 0 failed.
int WaitWritable(SOCKET s, long long waitMicroseconds, bool* failed) {
  fd_set writable;
  fd_set broken;
  FD_ZERO(&writable);
  FD_ZERO(&broken);
  FD_SET(s, &writable);
  FD_SET(s, &broken);
  timeval wait{};
  wait.tv_sec = static_cast<decltype(wait.tv_sec)>(waitMicroseconds / 1000000);
  wait.tv_usec = static_cast<decltype(wait.tv_usec)>(waitMicroseconds % 1000000);
  const int ready = select(static_cast<int>(s + 1), nullptr, &writable,
                           failed != nullptr ? &broken : nullptr, &wait);
  if (ready > 0 && failed != nullptr) *failed = FD_ISSET(s, &broken) != 0;
  return ready;
}

int MakeNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0 ? 0 : -1;
}

// Connects the fresh socket s to target, waiting at most waitMs. Returns 0
// connected, -1 refused, failed or not connected in time.
int ConnectWithin(SOCKET s, const sockaddr_in& target, int waitMs) {
  if (MakeNonBlocking(s) != 0) return -1;
  const Clock::time_point deadline = DeadlineIn(waitMs);
  if (connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return 0;
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK && error != WSAEINTR) return -1;
  for (;;) {
    bool failed = false;
    const long long left = MicrosecondsUntil(deadline);
    const int ready = WaitWritable(s, left, &failed);
    if (ready == 0) {
      // A wait that ended a little early goes on with what is left.
      if (left > 0 && MicrosecondsUntil(deadline) > 0) continue;
      return -1;
    }
    if (ready < 0) {
      if (WSAGetLastError() == WSAEINTR) continue;
      return -1;
    }
    if (failed) return -1;
    int socketError = 0;
    socklen_t length = sizeof socketError;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError), &length) != 0) {
      return -1;
    }
    return socketError == 0 ? 0 : -1;
  }
}

}  // namespace

TcpEndpoint::TcpEndpoint()
    : wsaData(),
      peerAddress("---"),
      startupError(0),
      hostName(),
      address(),
      port(0),
      listenSocket(INVALID_SOCKET),
      dataSocket(INVALID_SOCKET),
      verbose(0),
      hostEntry(nullptr),
      remoteAddr(),
      localAddr(),
      connectTimeoutMs(CONNECT_TIMEOUT_MS),
      sendStallLimitMs(SEND_STALL_LIMIT_MS) {
  startupError = WSAStartup(MAKEWORD(1, 1), &wsaData);
}

int TcpEndpoint::SetTarget(const char* host, const char* addressText, int targetPort) {
  char hostCopy[sizeof hostName];
  char addressCopy[sizeof address];
  if (!CopyBounded(hostCopy, host, HOST_NAME_MAX_CHARS) ||
      !CopyBounded(addressCopy, addressText, ADDRESS_MAX_CHARS)) {
    return -1;
  }
  std::memcpy(hostName, hostCopy, sizeof hostName);
  std::memcpy(address, addressCopy, sizeof address);
  port = targetPort;
  return 0;
}

int TcpEndpoint::Connect() {
  std::memset(&remoteAddr, 0, sizeof remoteAddr);
  bool resolved = false;
  if (hostName[0] != '\0') {
    hostEntry = gethostbyname(hostName);
    if (hostEntry != nullptr && hostEntry->h_addr_list[0] != nullptr) {
      std::memcpy(&remoteAddr.sin_addr, hostEntry->h_addr_list[0], 4);
      resolved = true;
    }
  }
  if (!resolved) {
    uint8_t octets[4];
    if (ParseIpv4Address(address, octets) != 0) {
      std::printf("s err\n");
      return CONNECT_BAD_ADDRESS;
    }
    std::memcpy(&remoteAddr.sin_addr, octets, 4);
  }
  remoteAddr.sin_family = AF_INET;
  remoteAddr.sin_port = LowPort(port);

  dataSocket = socket(AF_INET, SOCK_STREAM, 0);
  if (dataSocket == INVALID_SOCKET) {
    std::printf("s err\n");
    return CONNECT_NO_SOCKET;
  }
  if (ConnectWithin(dataSocket, remoteAddr, connectTimeoutMs) != 0) {
    std::printf("connect err\n");
    CloseSocket(&dataSocket);
    return CONNECT_FAILED;
  }
  return 0;
}

int TcpEndpoint::Send(const uint8_t* data, int length) {
  // The common case costs one send: the clock is read and select called only
  // while the connection takes nothing.
  bool stalled = false;
  Clock::time_point giveUp;
  while (length > 0) {
    if (dataSocket == INVALID_SOCKET) return -1;
    const int sent =
        static_cast<int>(send(dataSocket, reinterpret_cast<const char*>(data), length, 0));
    if (sent > 0) {
      data += sent;
      length -= sent;
      stalled = false;
      continue;
    }
    if (sent == 0) return -1;
    const int error = WSAGetLastError();
    if (error == WSAEINTR) continue;
    if (error != WSAEWOULDBLOCK) return -1;
    if (!stalled) {
      stalled = true;
      giveUp = DeadlineIn(sendStallLimitMs);
    }
    const long long left = MicrosecondsUntil(giveUp);
    if (left == 0) return -1;
    // Ready or not, the next send tells; a wait that ended early is resumed
    // there, and one that ran out finds no time left.
    if (WaitWritable(dataSocket, left, nullptr) < 0 && WSAGetLastError() != WSAEINTR) return -1;
  }
  return 0;
}

int TcpEndpoint::Receive(uint8_t* buffer, int /*length*/) {
  const int got = ReceiveBlock(buffer, 4, RECEIVE_WAIT_MS);
  return got > 0 ? got : 0;
}

int TcpEndpoint::ReceiveBlock(uint8_t* buffer, int length, int waitMs) {
  if (dataSocket == INVALID_SOCKET) return -1;
  if (WaitReadable(dataSocket, waitMs * 1000L) <= 0) return 0;
  const int got = static_cast<int>(recv(dataSocket, reinterpret_cast<char*>(buffer), length, 0));
  if (got > 0) return got;
  if (got < 0) {
    // Readable yet nothing to take (or interrupted): an empty read, not an end.
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINTR) return 0;
  }
  if (got == 0 && verbose != 0) std::printf("client disconnected...\n");
  CloseSocket(&dataSocket);
  return -1;
}

int TcpEndpoint::Close() {
  CloseSocket(&dataSocket);
  CloseSocket(&listenSocket);
  return 0;
}

int TcpEndpoint::Listen() {
  if (verbose != 0) std::printf("Init Socket...");
  listenSocket = socket(AF_INET, SOCK_STREAM, 0);
  if (listenSocket == INVALID_SOCKET) return -1;
  std::memset(&localAddr, 0, sizeof localAddr);
  localAddr.sin_family = AF_INET;
  localAddr.sin_addr.s_addr = htonl(INADDR_ANY);
  localAddr.sin_port = LowPort(port);
  if (bind(listenSocket, reinterpret_cast<const sockaddr*>(&localAddr), sizeof localAddr) ==
      SOCKET_ERROR) {
    return -2;
  }
  if (listen(listenSocket, 1) == SOCKET_ERROR) return -3;
  std::memset(&remoteAddr, 0, sizeof remoteAddr);
  return 0;
}

int TcpEndpoint::PollAccept() {
  if (listenSocket == INVALID_SOCKET) return 0;
  return WaitReadable(listenSocket, 10) == 0 ? 1 : 0;
}

int TcpEndpoint::CloseData() {
  CloseSocket(&dataSocket);
  return 0;
}

int TcpEndpoint::AbortData() {
  if (dataSocket == INVALID_SOCKET) return -1;
  linger hard{};
  hard.l_onoff = 1;
  hard.l_linger = 0;
  const int asked = setsockopt(dataSocket, SOL_SOCKET, SO_LINGER,
                               reinterpret_cast<const char*>(&hard), sizeof hard);
  CloseSocket(&dataSocket);
  return asked == 0 ? 0 : -1;
}

int TcpEndpoint::Accept() {
  if (PollAccept() == 1) return 1;
  dataSocket = accept(listenSocket, nullptr, nullptr);
  if (dataSocket == INVALID_SOCKET) return -4;
  if (MakeNonBlocking(dataSocket) != 0) {
    CloseSocket(&dataSocket);
    return -4;
  }
  sockaddr_in peer{};
  socklen_t peerLength = sizeof peer;
  if (getpeername(dataSocket, reinterpret_cast<sockaddr*>(&peer), &peerLength) < 0) return -5;
  std::snprintf(peerAddress, sizeof peerAddress, "%s", inet_ntoa(peer.sin_addr));
  return 0;
}

int TcpEndpoint::LocalPort() {
  sockaddr_in bound{};
  socklen_t boundLength = sizeof bound;
  if (listenSocket == INVALID_SOCKET ||
      getsockname(listenSocket, reinterpret_cast<sockaddr*>(&bound), &boundLength) < 0) {
    return -1;
  }
  return ntohs(bound.sin_port);
}

const void* TcpEndpoint::ResolveAddress(const char* name) {
  static uint8_t resolvedAddress[4] = {};
  if (ParseIpv4Address(name, resolvedAddress) == 0) return resolvedAddress;
  const HOSTENT* entry = gethostbyname(name);
  return entry != nullptr ? entry->h_addr_list[0] : nullptr;
}

void TcpEndpoint::CloseSocket(SOCKET* s) {
  if (*s == INVALID_SOCKET) return;
  closesocket(*s);
  *s = INVALID_SOCKET;
}

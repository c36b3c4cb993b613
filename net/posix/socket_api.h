// The sockets layer on POSIX (the contract: net/socket_layer.h): the few
// Windows Sockets names the code uses, built on POSIX sockets.
#ifndef TCPFLASH_NET_POSIX_SOCKET_API_H_
#define TCPFLASH_NET_POSIX_SOCKET_API_H_

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using SOCKET = int;
using HOSTENT = hostent;
using u_long = unsigned long;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// The error codes the endpoint tells apart, with their Windows values.
constexpr int WSAEINTR = 10004;
constexpr int WSAEWOULDBLOCK = 10035;

struct WSADATA {
  unsigned short wVersion;
  unsigned short wHighVersion;
};

constexpr unsigned short MAKEWORD(unsigned lo, unsigned hi) {
  return static_cast<unsigned short>((lo & 0xFF) | ((hi & 0xFF) << 8));
}

// Starts the sockets "library": records the version and makes a send to a
// closed peer fail with an error instead of killing the process (SIGPIPE), as
// it does on Windows. Always returns 0.
int WSAStartup(unsigned short version, WSADATA* data);
int WSACleanup();
int closesocket(SOCKET s);

// The error of the last failed socket call: WSAEWOULDBLOCK for an operation
// that would have to wait (EAGAIN, EWOULDBLOCK, or EINPROGRESS from a
// non-blocking connect), WSAEINTR for an interrupted call, errno otherwise.
int WSAGetLastError();

// Only FIONBIO: *argument not 0 puts s into non-blocking mode, 0 back into
// blocking mode. Returns 0, or SOCKET_ERROR (any other command included).
int ioctlsocket(SOCKET s, long command, u_long* argument);

void Sleep(unsigned long milliseconds);

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no socket the process makes later takes a standard stream's place
// (the console transcript would go to the device). Returns the number of
// descriptors it opened (0 to 3), or -1 when one could not be opened.
int ReserveStandardStreams();

#endif  // TCPFLASH_NET_POSIX_SOCKET_API_H_

// The few Windows Sockets names the endpoint uses, offered on POSIX sockets
// so that the rest of the code is written once against one interface.
#ifndef TCPFLASH_NET_POSIX_SOCKET_API_H_
#define TCPFLASH_NET_POSIX_SOCKET_API_H_

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using SOCKET = int;
using HOSTENT = hostent;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

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
void Sleep(unsigned long milliseconds);

#endif  // TCPFLASH_NET_POSIX_SOCKET_API_H_

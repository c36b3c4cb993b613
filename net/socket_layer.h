// The sockets layer: everything about sockets, sleeping and the standard
// streams that differs between platforms. The code is written once against
// the Windows Sockets names below; one header per platform offers them
// (net/posix/socket_api.h builds them on POSIX sockets, net/win32/socket_api.h
// takes the system's own). CMake puts the platform's folder on the include
// path, so "socket_api.h" here is that platform's. Include this header, never
// a platform's directly.
//
// What every platform's socket_api.h must offer:
//
// Types
//   SOCKET          an integer handle of a socket.
//   INVALID_SOCKET  the SOCKET value of no socket (what socket() and accept()
//                   return when they fail).
//   SOCKET_ERROR    -1, what bind, listen and ioctlsocket return on failure.
//   HOSTENT         struct hostent, as gethostbyname returns it.
//   u_long          the argument type of ioctlsocket.
//   WSADATA         what WSAStartup fills in; the code only keeps it.
//
// Start and end of the sockets library
//   int WSAStartup(MAKEWORD(lo, hi), WSADATA*)
//                   starts the library for the process; 0 when it started.
//                   From then on a send to a closed peer fails with an error
//                   rather than ending the process.
//   int WSACleanup()
//                   ends it; the process makes no more sockets afterwards.
//
// Sockets
//   int closesocket(SOCKET)
//                   closes a socket; 0, or SOCKET_ERROR.
//   int ioctlsocket(SOCKET, FIONBIO, u_long* on)
//                   *on != 0 makes the socket non-blocking, 0 blocking again;
//                   0, or SOCKET_ERROR. Only FIONBIO is ever asked for.
//   int WSAGetLastError()
//                   the error of the calling thread's last failed socket
//                   call. Two values are told apart, with their Windows
//                   numbers: WSAEWOULDBLOCK (10035) for a call on a
//                   non-blocking socket that would have to wait, a connect
//                   under way included; WSAEINTR (10004) for a call a signal
//                   interrupted. Any other value means the call failed.
//   The Berkeley calls as both systems have them, with the types Windows
//   takes (buffers as char*, lengths as int): socket, connect, bind, listen,
//   accept, send, recv, shutdown; select with fd_set, FD_ZERO, FD_SET,
//   FD_ISSET and timeval (its first argument, the highest socket + 1, is
//   ignored on Windows); setsockopt and getsockopt (SOL_SOCKET: SO_ERROR,
//   SO_LINGER with linger, SO_SNDBUF); getpeername, getsockname, socklen_t,
//   sockaddr_in, inet_ntoa, gethostbyname, htons, ntohs, htonl, INADDR_ANY,
//   AF_INET, SOCK_STREAM. Address texts are read by net/ipv4_address.h, not
//   by the system's parser.
//
// Time
//   void Sleep(unsigned long milliseconds)
//                   sleeps at least that long, a signal or not.
//
// Standard streams
//   int ReserveStandardStreams()
//                   makes sure no socket made later can take the place of a
//                   closed standard input, output or error (the console
//                   transcript would go to the device). Returns how many it
//                   had to fill (0 to 3), or -1 when it could not.
#ifndef TCPFLASH_NET_SOCKET_LAYER_H_
#define TCPFLASH_NET_SOCKET_LAYER_H_

#include <type_traits>

#include "socket_api.h"

// A platform header that misses a name or gives it another shape stops the
// build here, not somewhere in the endpoint.
static_assert(std::is_integral<SOCKET>::value, "SOCKET is an integer handle");
static_assert(std::is_same<HOSTENT, hostent>::value, "HOSTENT is struct hostent");
static_assert(SOCKET_ERROR == -1, "SOCKET_ERROR is -1");
static_assert(WSAEWOULDBLOCK == 10035 && WSAEINTR == 10004,
              "the error codes have their Windows values");
static_assert(
    std::is_same<decltype(WSAStartup(MAKEWORD(1, 1), static_cast<WSADATA*>(nullptr))), int>::value,
    "int WSAStartup(version, WSADATA*)");
static_assert(std::is_same<decltype(WSACleanup()), int>::value, "int WSACleanup()");
static_assert(std::is_same<decltype(closesocket(INVALID_SOCKET)), int>::value,
              "int closesocket(SOCKET)");
static_assert(
    std::is_same<decltype(ioctlsocket(INVALID_SOCKET, FIONBIO, static_cast<u_long*>(nullptr))),
                 int>::value,
    "int ioctlsocket(SOCKET, FIONBIO, u_long*)");
static_assert(std::is_same<decltype(WSAGetLastError()), int>::value, "int WSAGetLastError()");
static_assert(std::is_same<decltype(Sleep(1UL)), void>::value, "void Sleep(milliseconds)");
static_assert(std::is_same<decltype(ReserveStandardStreams()), int>::value,
              "int ReserveStandardStreams()");

#endif  // TCPFLASH_NET_SOCKET_LAYER_H_

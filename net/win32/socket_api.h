// The sockets layer on Windows (the contract: net/socket_layer.h): the real
// Windows Sockets and the system's Sleep.
#ifndef TCPFLASH_NET_WIN32_SOCKET_API_H_
#define TCPFLASH_NET_WIN32_SOCKET_API_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

// A Windows process's sockets are handles, never the numbers of its standard
// streams, so there is nothing to reserve. Returns 0.
inline int ReserveStandardStreams() { return 0; }

#endif  // TCPFLASH_NET_WIN32_SOCKET_API_H_

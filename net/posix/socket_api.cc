#include "socket_api.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>

#include <cerrno>

int WSAStartup(unsigned short version, WSADATA* data) {
  signal(SIGPIPE, SIG_IGN);
  data->wVersion = version;
  data->wHighVersion = version;
  return 0;
}

int WSACleanup() { return 0; }

int closesocket(SOCKET s) { return close(s); }

int WSAGetLastError() {
  const int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS) return WSAEWOULDBLOCK;
  if (error == EINTR) return WSAEINTR;
  return error;
}

int ioctlsocket(SOCKET s, long command, u_long* argument) {
  if (command != static_cast<long>(FIONBIO) || argument == nullptr) {
    errno = EINVAL;
    return SOCKET_ERROR;
  }
  const int flags = fcntl(s, F_GETFL);
  if (flags == -1) return SOCKET_ERROR;
  const int wanted = *argument != 0 ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (wanted != flags && fcntl(s, F_SETFL, wanted) == -1) return SOCKET_ERROR;
  return 0;
}

void Sleep(unsigned long milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int ReserveStandardStreams() {
  int opened = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is fd itself, as the ones below are open.
    const int nullFd = open("/dev/null", O_RDWR);
    if (nullFd == -1) return -1;
    if (nullFd != fd) {
      const int moved = dup2(nullFd, fd);
      close(nullFd);
      if (moved != fd) return -1;
    }
    ++opened;
  }
  return opened;
}

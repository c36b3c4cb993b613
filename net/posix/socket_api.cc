#include "socket_api.h"

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

void Sleep(unsigned long milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

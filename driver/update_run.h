// One update run, from the first mode query to the loader's close command.
#ifndef TCPFLASH_DRIVER_UPDATE_RUN_H_
#define TCPFLASH_DRIVER_UPDATE_RUN_H_

#include <cstdio>

#include "driver/run_events.h"

class Progress;
class TcpEndpoint;

constexpr int SWITCH_WAIT_MS = 4000;
constexpr int RECONNECT_PAUSE_MS = 100;
constexpr int RECONNECT_MAX_ATTEMPTS = 10;
constexpr int CLOSE_PAUSE_MS = 500;

// Drives the device on the connected endpoint: switches a running
// application to its update loader, sends the imageSize bytes of image (at
// its first byte) and flashes them. progress shows the transfer, the wait for
// the update loader and the reconnect attempts; it is erased before every
// console text. events hears of the run as it goes (but not of its end,
// which the caller reports). Returns the exit status: 0 flashed as ordered,
// -1 failed, with *failure set to why.
int RunUpdate(TcpEndpoint& endpoint, FILE* image, long long imageSize, Progress& progress,
              RunObserver& events, RunFailure* failure);

// Prints message, pauses CLOSE_PAUSE_MS, closes the endpoint, releases the
// sockets library and returns status.
int OrderlyEnd(TcpEndpoint& endpoint, const char* message, int status);

#endif  // TCPFLASH_DRIVER_UPDATE_RUN_H_

// One update run, from the first mode query to the loader's close command.
#ifndef TCPFLASH_DRIVER_UPDATE_RUN_H_
#define TCPFLASH_DRIVER_UPDATE_RUN_H_

#include <cstdio>

#include "driver/file_stamp.h"
#include "driver/run_events.h"

class Progress;
class TcpEndpoint;

constexpr int SWITCH_WAIT_MS = 4000;
constexpr int RECONNECT_PAUSE_MS = 100;
constexpr int RECONNECT_MAX_ATTEMPTS = 10;
constexpr int CLOSE_PAUSE_MS = 500;

// What a run proves beyond sending the image.
struct UpdateChecks {
  // The image file's stamp when it was opened: the frame that ends the image
  // goes out only while the open file still has it. Null: not checked.
  const FileStamp* openedStamp = nullptr;
  // The image's SHA-256 (SHA256_DIGEST_SIZE bytes): what goes out must hash
  // to it before the frame that ends the image goes out. Null: not hashed.
  const uint8_t* expectedSha256 = nullptr;
  // Bound of the wait for "ready" while the board answers busy.
  int readyTimeoutS = 600;
  // After the close command, check that the board starts its application
  // within bootTimeoutS (and runs expectVersion, when not null).
  bool verify = false;
  int bootTimeoutS = 60;
  const char* expectVersion = nullptr;
  // A running application that reports expectVersion is left as it is.
  bool skipCurrent = false;
};

// Drives the device on the connected endpoint: switches a running
// application to its update loader, sends the imageSize bytes of image (at
// its first byte) and flashes them, proving what checks ask for. progress
// shows the transfer, the wait for the update loader and the reconnect
// attempts; it is erased before every console text. events hears of the run
// as it goes (but not of its end, which the caller reports). Returns the
// exit status: 0 flashed as ordered (or skipped), 2 flashed but the board
// does not run what was asked, -1 failed; result gets why (failure), whether
// the update was skipped and the version the board reported after it.
int RunUpdate(TcpEndpoint& endpoint, FILE* image, long long imageSize, const UpdateChecks& checks,
              Progress& progress, RunObserver& events, RunResult* result);

// Tells what the board on the connected endpoint runs and changes nothing:
// only the mode query and the version request go out. Returns 0 when a mode
// was read, -1 after "No Device found\r\n" (failure set).
int RunInfo(TcpEndpoint& endpoint, RunObserver& events, RunResult* result);

// Prints message, pauses CLOSE_PAUSE_MS, closes the endpoint, releases the
// sockets library and returns status.
int OrderlyEnd(TcpEndpoint& endpoint, const char* message, int status);

#endif  // TCPFLASH_DRIVER_UPDATE_RUN_H_

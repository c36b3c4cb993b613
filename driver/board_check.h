// Asking a board what it runs, without changing anything: for --info, for
// --skip-current and for the check after an update that the board starts its
// application again.
#ifndef TCPFLASH_DRIVER_BOARD_CHECK_H_
#define TCPFLASH_DRIVER_BOARD_CHECK_H_

#include "driver/run_events.h"
#include "protocol/reply.h"

class TcpEndpoint;

// Pause between two connection attempts of the boot check.
constexpr int BOOT_ATTEMPT_PAUSE_MS = 1000;

struct RunningFirmware {
  int mode = -1;            // -1 when no mode was read
  bool hasVersion = false;  // version holds the version of what runs
  VersionText version;
};

// On the connected endpoint: queries the mode and reads the version of what
// runs (the application's for mode 1, the loader's above it), printing as an
// update run prints them, and reports both to events. Sends nothing but the
// mode query and the version request. Returns firmware->mode.
int ReadRunningFirmware(TcpEndpoint& endpoint, RunObserver& events, RunningFirmware* firmware);

// Prints version[0,length) as the console shows a board's version text.
void PrintVersion(const VersionText& version);

// True when the board's version text is exactly expected.
bool VersionIs(const VersionText& version, const char* expected);

// After the close command, with the endpoint closed: prints "Checking that
// the board starts its application...", then connects (each attempt after a
// pause of BOOT_ATTEMPT_PAUSE_MS and bounded by the endpoint's connect
// time-out, cut to the time left) until the board answers with a mode and its
// version or bootTimeoutS have passed, and prints the verdict. expectVersion,
// when not null, is the application version the board must report. Leaves
// the endpoint closed. Returns 0 when the board runs its application (as
// expected), else 2 with *failure set to kBoot, kBootLoader or
// kVersionMismatch. firmware receives what was read.
int CheckBoot(TcpEndpoint& endpoint, int bootTimeoutS, const char* expectVersion,
              RunObserver& events, RunningFirmware* firmware, RunFailure* failure);

#endif  // TCPFLASH_DRIVER_BOARD_CHECK_H_

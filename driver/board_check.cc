#include "driver/board_check.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "net/tcp_endpoint.h"
#include "protocol/app_commands.h"
#include "protocol/loader_commands.h"

int ReadRunningFirmware(TcpEndpoint& endpoint, RunObserver& events, RunningFirmware* firmware) {
  firmware->hasVersion = false;
  firmware->mode = QueryDeviceMode(endpoint);
  events.ModeReported(firmware->mode > 0 ? firmware->mode : 0);
  if (firmware->mode < 1) return firmware->mode;
  std::printf("Device found %d\r\n", firmware->mode);
  const bool application = firmware->mode == MODE_APPLICATION;
  const int read = application ? RequestAppVersion(endpoint, &firmware->version)
                               : RequestLoaderVersion(endpoint, &firmware->version);
  if (read == 0) {
    firmware->hasVersion = true;
    events.VersionReported(application ? VersionOf::kApplication : VersionOf::kLoader,
                           firmware->version.bytes, firmware->version.length);
  } else if (!application) {
    std::printf("Version request error!\r\n");
  }
  return firmware->mode;
}

void PrintVersion(const VersionText& version) { PrintVersionText(version.bytes, version.length); }

bool VersionIs(const VersionText& version, const char* expected) {
  const size_t length = std::strlen(expected);
  return static_cast<size_t>(version.length) == length &&
         std::memcmp(version.bytes, expected, length) == 0;
}

int CheckBoot(TcpEndpoint& endpoint, int bootTimeoutS, const char* expectVersion,
              RunObserver& events, RunningFirmware* firmware, RunFailure* failure) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(bootTimeoutS);
  const int connectTimeoutMs = endpoint.connectTimeoutMs;
  std::printf("Checking that the board starts its application...");
  bool answered = false;
  for (int attempt = 1;; ++attempt) {
    // A board needs a moment to restart: right after the close its old
    // firmware may still take a connection that it never serves.
    if (Clock::now() + std::chrono::milliseconds(BOOT_ATTEMPT_PAUSE_MS) >= deadline) break;
    Sleep(BOOT_ATTEMPT_PAUSE_MS);
    const long long leftMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (leftMs <= 0) break;
    endpoint.connectTimeoutMs =
        leftMs < connectTimeoutMs ? static_cast<int>(leftMs) : connectTimeoutMs;
    if (endpoint.Connect() == 0) {
      events.Connected(attempt);
      ReadRunningFirmware(endpoint, events, firmware);
      endpoint.Close();
      // An application that cannot tell its version yet is still starting.
      answered = firmware->mode > MODE_APPLICATION ||
                 (firmware->mode == MODE_APPLICATION && firmware->hasVersion);
      if (answered) break;
    }
  }
  endpoint.connectTimeoutMs = connectTimeoutMs;
  if (!answered) {
    std::printf("The board did not start its application within %d s\r\n", bootTimeoutS);
    *failure = RunFailure::kBoot;
    return 2;
  }
  if (firmware->mode != MODE_APPLICATION) {
    std::printf("The board started its update loader again, not its application\r\n");
    *failure = RunFailure::kBootLoader;
    return 2;
  }
  if (expectVersion != nullptr && !VersionIs(firmware->version, expectVersion)) {
    std::printf("Board runs version ");
    PrintVersion(firmware->version);
    std::printf(", not %s\r\n", expectVersion);
    *failure = RunFailure::kVersionMismatch;
    return 2;
  }
  std::printf("Board runs its application, version ");
  PrintVersion(firmware->version);
  std::printf("\r\n");
  return 0;
}

#include "driver/flash_update.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "driver/event_writer.h"
#include "driver/image_file.h"
#include "driver/progress.h"
#include "driver/run_events.h"
#include "driver/select_target.h"
#include "driver/terminal.h"
#include "driver/tool_options.h"
#include "driver/update_run.h"
#include "net/tcp_endpoint.h"

namespace {

// Opens the event stream that options name: standard error for "-", else
// the file, created or truncated. Returns null with *refused false when no
// events are wanted; null with *refused true after a message when the file
// cannot be written or is the image itself.
FILE* OpenEvents(const ToolOptions& options, bool* refused) {
  *refused = false;
  const char* path = options.eventsPath;
  if (path == nullptr) return nullptr;
  if (std::strcmp(path, "-") == 0) return stderr;
  std::error_code error;
  if (std::filesystem::equivalent(path, options.imagePath, error)) {
    std::fprintf(stderr, "tcpflash: --events %s names the image\n", path);
    *refused = true;
    return nullptr;
  }
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "tcpflash: cannot write the events to %s\n", path);
    *refused = true;
  }
  return file;
}

// The run after the options were read: everything from the banner to the
// end. Returns the exit status, with *failure set when no board was flashed.
int Run(const ToolOptions& options, FILE* input, bool eventsOnStderr, RunObserver& events,
        RunFailure* failure) {
  std::printf("TCP/IP Application Flash Utility Version %s fuer Arm7 und Arm9 %s\r\n", "0.07",
              "(06.02.2008)");
  char address[ADDRESS_TEXT_SIZE];
  int port = DEFAULT_PORT;
  const int kept =
      options.positionalCount < POSITIONAL_KEPT ? options.positionalCount : POSITIONAL_KEPT;
  const int selected = SelectTarget(kept, options.positional, input, address, &port);
  if (selected != 0) {
    *failure = selected == SELECT_NO_INPUT ? RunFailure::kNoAddress : RunFailure::kUsage;
    return 1;
  }
  CompleteAddress(address);

  long long imageSize = 0;
  FILE* image = OpenImage(options.imagePath, &imageSize);
  events.Started(address, port, options.imagePath, image != nullptr ? imageSize : -1);
  if (image == nullptr) {
    std::printf("Cannot open %s\n", options.imagePath);
    *failure = RunFailure::kNoImage;
    return 1;
  }
  // The image is read 750 bytes at a time; a large buffer saves system calls.
  static char imageBuffer[1 << 16];
  std::setvbuf(image, imageBuffer, _IOFBF, sizeof imageBuffer);

  // One endpoint for the whole run, across the reconnect to the update loader.
  TcpEndpoint endpoint;
  std::printf("Connecting to %s port %d\r\n", address, port);
  endpoint.SetTarget("", address, port);
  if (endpoint.startupError != 0) {
    std::printf("dll err\n");
    *failure = RunFailure::kSockets;
    return 1;
  }
  const int connected = endpoint.Connect();
  if (connected != 0) {
    *failure = connected == CONNECT_BAD_ADDRESS ? RunFailure::kAddress
               : connected == CONNECT_NO_SOCKET ? RunFailure::kNoSocket
                                                : RunFailure::kConnect;
    // No update happened, which a script must be able to tell.
    return OrderlyEnd(endpoint, "s error!\n", 1);
  }
  std::printf("s init ok\n");
  events.Connected(1);
  // Standard output stays the exact transcript: the progress display goes
  // to standard error, and by default only when someone watches it there.
  const bool showProgress =
      !eventsOnStderr && (options.progress == ProgressMode::kOn ||
                          (options.progress == ProgressMode::kAuto && IsTerminal(stderr)));
  Progress progress(stderr, showProgress);
  return RunUpdate(endpoint, image, imageSize, progress, events, failure);
}

}  // namespace

int RunFlashUpdate(int argc, char** argv, FILE* input) {
  const long long startMs = SteadyMilliseconds();
  ToolOptions options;
  if (ParseToolOptions(argc, argv, &options) != 0) return 1;
  if (options.help) {
    PrintToolUsage(stdout);
    return 0;
  }
  if (options.version) {
    PrintToolVersion(stdout);
    return 0;
  }
  bool refused = false;
  FILE* eventsFile = OpenEvents(options, &refused);
  if (refused) return 1;
  EventWriter writer(eventsFile, ToolVersionText(), startMs);
  SilentRunObserver silent;
  RunObserver& events = eventsFile != nullptr ? static_cast<RunObserver&>(writer) : silent;

  RunResult result;
  result.status = Run(options, input, eventsFile == stderr, events, &result.failure);
  result.flashed = result.status == 0 && result.failure == RunFailure::kNone;
  events.Ended(result);
  if (eventsFile != nullptr && eventsFile != stderr) std::fclose(eventsFile);
  return result.status;
}

#include "driver/flash_update.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "driver/event_writer.h"
#include "driver/file_stamp.h"
#include "driver/image_file.h"
#include "driver/progress.h"
#include "driver/run_events.h"
#include "driver/select_target.h"
#include "driver/sha256.h"
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

// Hashes the image from its first byte and compares it with the expected
// digest, leaving the stream at its first byte again. Returns 0 when it
// matches; 1 after a message and with *failure set when it does not or the
// file could not be read.
int CheckImageHash(FILE* image, long long imageSize, const uint8_t* expected, RunFailure* failure) {
  char hex[SHA256_HEX_SIZE];
  char expectedHex[SHA256_HEX_SIZE];
  long long hashed = 0;
  const int read = Sha256OfStream(image, hex, &hashed);
  Sha256Hex(expected, expectedHex);
  if (read != 0 || std::fseek(image, 0, SEEK_SET) != 0) {
    std::printf("Image read error\n");
    *failure = RunFailure::kImageUnreadable;
    return 1;
  }
  // A size that moved since the file was opened is another image too.
  if (hashed != imageSize || std::strcmp(hex, expectedHex) != 0) {
    std::printf("Image does not match the expected SHA-256\n");
    *failure = RunFailure::kImageMismatch;
    return 1;
  }
  return 0;
}

// The run after the options were read: everything from the banner to the
// end. Returns the exit status, with result's failure, skipped and version
// after set.
int Run(const ToolOptions& options, FILE* input, bool eventsOnStderr, RunObserver& events,
        RunResult* result) {
  std::printf("TCP/IP Application Flash Utility Version %s fuer Arm7 und Arm9 %s\r\n", "0.07",
              "(06.02.2008)");
  char address[ADDRESS_TEXT_SIZE];
  int port = DEFAULT_PORT;
  const int kept =
      options.positionalCount < POSITIONAL_KEPT ? options.positionalCount : POSITIONAL_KEPT;
  const int selected = SelectTarget(kept, options.positional, input, address, &port);
  if (selected != 0) {
    result->failure = selected == SELECT_NO_INPUT ? RunFailure::kNoAddress : RunFailure::kUsage;
    return 1;
  }
  CompleteAddress(address);

  // --info changes nothing, so it needs no image.
  FILE* image = nullptr;
  long long imageSize = 0;
  FileStamp openedStamp;
  UpdateChecks checks;
  if (options.info) {
    events.Started(address, port, nullptr, -1);
  } else {
    image = OpenImage(options.imagePath, &imageSize);
    events.Started(address, port, options.imagePath, image != nullptr ? imageSize : -1);
    if (image == nullptr) {
      std::printf("Cannot open %s\n", options.imagePath);
      result->failure = RunFailure::kNoImage;
      return 1;
    }
    // The image is read 750 bytes at a time; a large buffer saves system calls.
    static char imageBuffer[1 << 16];
    std::setvbuf(image, imageBuffer, _IOFBF, sizeof imageBuffer);
    if (ReadFileStamp(image, &openedStamp) == 0) checks.openedStamp = &openedStamp;
    if (options.hasExpectedSha256) {
      if (CheckImageHash(image, imageSize, options.expectedSha256, &result->failure) != 0) return 1;
      checks.expectedSha256 = options.expectedSha256;
    }
    checks.readyTimeoutS = options.readyTimeoutS;
    checks.verify = options.verify;
    checks.bootTimeoutS = options.bootTimeoutS;
    checks.expectVersion = options.expectVersion;
    checks.skipCurrent = options.skipCurrent;
  }

  // One endpoint for the whole run, across the reconnect to the update loader.
  TcpEndpoint endpoint;
  std::printf("Connecting to %s port %d\r\n", address, port);
  endpoint.SetTarget("", address, port);
  if (endpoint.startupError != 0) {
    std::printf("dll err\n");
    result->failure = RunFailure::kSockets;
    return 1;
  }
  const int connected = endpoint.Connect();
  if (connected != 0) {
    result->failure = connected == CONNECT_BAD_ADDRESS ? RunFailure::kAddress
                      : connected == CONNECT_NO_SOCKET ? RunFailure::kNoSocket
                                                       : RunFailure::kConnect;
    // No update happened, which a script must be able to tell.
    return OrderlyEnd(endpoint, "s error!\n", 1);
  }
  std::printf("s init ok\n");
  events.Connected(1);
  if (options.info) return RunInfo(endpoint, events, result);
  // Standard output stays the exact transcript: the progress display goes
  // to standard error, and by default only when someone watches it there.
  const bool showProgress =
      !eventsOnStderr && (options.progress == ProgressMode::kOn ||
                          (options.progress == ProgressMode::kAuto && IsTerminal(stderr)));
  Progress progress(stderr, showProgress);
  return RunUpdate(endpoint, image, imageSize, checks, progress, events, result);
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
  result.status = Run(options, input, eventsFile == stderr, events, &result);
  result.flashed =
      result.status == 0 && result.failure == RunFailure::kNone && !options.info && !result.skipped;
  events.Ended(result);
  if (eventsFile != nullptr && eventsFile != stderr) std::fclose(eventsFile);
  return result.status;
}

#include "driver/flash_update.h"

#include "driver/image_file.h"
#include "driver/progress.h"
#include "driver/select_target.h"
#include "driver/terminal.h"
#include "driver/tool_options.h"
#include "driver/update_run.h"
#include "net/tcp_endpoint.h"

int RunFlashUpdate(int argc, char** argv, FILE* input) {
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
  std::printf("TCP/IP Application Flash Utility Version %s fuer Arm7 und Arm9 %s\r\n", "0.07",
              "(06.02.2008)");
  char address[ADDRESS_TEXT_SIZE];
  int port = DEFAULT_PORT;
  const int kept =
      options.positionalCount < POSITIONAL_KEPT ? options.positionalCount : POSITIONAL_KEPT;
  if (SelectTarget(kept, options.positional, input, address, &port) != 0) return 1;

  long long imageSize = 0;
  FILE* image = OpenImage(options.imagePath, &imageSize);
  if (image == nullptr) {
    std::printf("Cannot open %s\n", options.imagePath);
    return 1;
  }
  // The image is read 750 bytes at a time; a large buffer saves system calls.
  static char imageBuffer[1 << 16];
  std::setvbuf(image, imageBuffer, _IOFBF, sizeof imageBuffer);

  // One endpoint for the whole run, across the reconnect to the update loader.
  TcpEndpoint endpoint;
  CompleteAddress(address);
  std::printf("Connecting to %s port %d\r\n", address, port);
  endpoint.SetTarget("", address, port);
  if (endpoint.startupError != 0) {
    std::printf("dll err\n");
    return 1;
  }
  // No update happened, which a script must be able to tell.
  if (endpoint.Connect() != 0) return OrderlyEnd(endpoint, "s error!\n", 1);
  std::printf("s init ok\n");
  // Standard output stays the exact transcript: the progress display goes
  // to standard error, and by default only when someone watches it there.
  const bool showProgress = options.progress == ProgressMode::kOn ||
                            (options.progress == ProgressMode::kAuto && IsTerminal(stderr));
  Progress progress(stderr, showProgress);
  return RunUpdate(endpoint, image, imageSize, &progress);
}

// The tool's own options, taken out of the command line before the address
// and port are looked at.
#ifndef TCPFLASH_DRIVER_TOOL_OPTIONS_H_
#define TCPFLASH_DRIVER_TOOL_OPTIONS_H_

#include <cstdint>
#include <cstdio>

#include "driver/sha256.h"

constexpr const char* IMAGE_FILE_NAME = "image.uncompressed";

enum class ProgressMode { kAuto, kOn, kOff };

constexpr int DEFAULT_BOOT_TIMEOUT_S = 60;
// Far beyond any flash part's programming time.
constexpr int DEFAULT_READY_TIMEOUT_S = 600;
// A time option takes 1 s to a day.
constexpr int TIME_OPTION_MAX_S = 86400;

// Program name and the first three positional arguments: three or more
// arguments all mean "ask at the prompt", so no more need keeping.
constexpr int POSITIONAL_KEPT = 4;

struct ToolOptions {
  const char* imagePath = IMAGE_FILE_NAME;
  // Where the event stream goes: a path, "-" for standard error, or null for
  // no events.
  const char* eventsPath = nullptr;
  bool hasExpectedSha256 = false;
  uint8_t expectedSha256[SHA256_DIGEST_SIZE] = {};
  // After the update, check that the board starts its application (and, with
  // expectVersion, which version it runs).
  bool verify = false;
  int bootTimeoutS = DEFAULT_BOOT_TIMEOUT_S;
  const char* expectVersion = nullptr;
  bool skipCurrent = false;
  // Only tell what the board runs.
  bool info = false;
  int readyTimeoutS = DEFAULT_READY_TIMEOUT_S;
  ProgressMode progress = ProgressMode::kAuto;
  bool help = false;
  bool version = false;
  // argv[0] and the positional arguments in order; positionalCount counts
  // them all (argv[0] included), of which at most POSITIONAL_KEPT are kept.
  char* positional[POSITIONAL_KEPT] = {};
  int positionalCount = 0;
};

// Sorts argv[0,argc) into options and positional arguments. Options may
// stand anywhere; "--" makes every later argument positional; "-" followed
// by a digit is positional (a port). Returns 0, or 1 after a message on
// stderr for an unknown option, a bad or missing value, or options that do
// not go together.
int ParseToolOptions(int argc, char** argv, ToolOptions* options);

// Prints the usage text (options, exit statuses, the image file) to out.
void PrintToolUsage(FILE* out);

// The program's version and the source revision it was built from:
// "0.8.0 (1a2b3c4)", "0.8.0 (revision unknown)" when the build had none.
const char* ToolVersionText();

// Prints "tcpflash <ToolVersionText()>" to out.
void PrintToolVersion(FILE* out);

#endif  // TCPFLASH_DRIVER_TOOL_OPTIONS_H_

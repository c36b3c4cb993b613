// The tool's own options, taken out of the command line before the address
// and port are looked at.
#ifndef TCPFLASH_DRIVER_TOOL_OPTIONS_H_
#define TCPFLASH_DRIVER_TOOL_OPTIONS_H_

#include <cstdio>

constexpr const char* IMAGE_FILE_NAME = "image.uncompressed";

enum class ProgressMode { kAuto, kOn, kOff };

// Program name and the first three positional arguments: three or more
// arguments all mean "ask at the prompt", so no more need keeping.
constexpr int POSITIONAL_KEPT = 4;

struct ToolOptions {
  const char* imagePath = IMAGE_FILE_NAME;
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
// stderr for an unknown option or a bad or missing value.
int ParseToolOptions(int argc, char** argv, ToolOptions* options);

// Prints the usage text (options, exit statuses, the image file) to out.
void PrintToolUsage(FILE* out);

// Prints the program's version and the source revision it was built from
// ("revision unknown" when the build had none) to out.
void PrintToolVersion(FILE* out);

#endif  // TCPFLASH_DRIVER_TOOL_OPTIONS_H_

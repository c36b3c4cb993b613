#include "driver/tool_options.h"

#include <cctype>
#include <cstring>

// TCPFLASH_REVISION: written at every build (cmake/revision.cmake).
#include "tcpflash_revision.h"

#ifndef TCPFLASH_VERSION
#define TCPFLASH_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsageLine =
    "usage: tcpflash [--image FILE] [--progress auto|on|off] [address [port]]\n";

bool IsOption(const char* arg) {
  if (std::strcmp(arg, "/?") == 0) return true;
  return arg[0] == '-' && arg[1] != '\0' && std::isdigit(static_cast<unsigned char>(arg[1])) == 0;
}

int Refuse(const char* what, const char* arg) {
  std::fprintf(stderr, "tcpflash: %s %s\n%s(tcpflash --help tells more)\n", what, arg, kUsageLine);
  return 1;
}

bool ParseProgressMode(const char* text, ProgressMode* mode) {
  const struct {
    const char* name;
    ProgressMode mode;
  } kModes[] = {
      {"auto", ProgressMode::kAuto}, {"on", ProgressMode::kOn}, {"off", ProgressMode::kOff}};
  for (const auto& m : kModes) {
    if (std::strcmp(text, m.name) == 0) {
      *mode = m.mode;
      return true;
    }
  }
  return false;
}

void KeepPositional(char* arg, ToolOptions* options) {
  if (options->positionalCount < POSITIONAL_KEPT) {
    options->positional[options->positionalCount] = arg;
  }
  ++options->positionalCount;
}

}  // namespace

int ParseToolOptions(int argc, char** argv, ToolOptions* options) {
  options->positionalCount = 0;
  if (argc > 0) KeepPositional(argv[0], options);
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    char* arg = argv[i];
    if (optionsEnded || !IsOption(arg)) {
      KeepPositional(arg, options);
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0 ||
               std::strcmp(arg, "/?") == 0) {
      options->help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
      options->version = true;
    } else if (std::strcmp(arg, "--image") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return Refuse("missing value for", arg);
      options->imagePath = argv[++i];
    } else if (std::strcmp(arg, "--progress") == 0) {
      if (i + 1 >= argc) return Refuse("missing value for", arg);
      const char* value = argv[++i];
      if (!ParseProgressMode(value, &options->progress)) {
        return Refuse("--progress takes auto, on or off, not", value);
      }
    } else {
      return Refuse("unknown option", arg);
    }
  }
  return 0;
}

void PrintToolUsage(FILE* out) {
  std::fputs(kUsageLine, out);
  std::fputs(
      "Loads a firmware image into an ARM7/ARM9 board over TCP/IP: switches its\n"
      "application to the update loader, streams the image, has it flashed, waits\n"
      "until the board is ready and resets it.\n"
      "\n"
      "  address            the board's IPv4 address; up to three characters are\n"
      "                     completed to 192.168.14.<address>. Without an address\n"
      "                     (or with three or more arguments) the tool asks for one.\n"
      "  port               TCP port (default 6666)\n"
      "  --image FILE       image to flash (default: image.uncompressed in the\n"
      "                     working directory); it must be a regular file and is\n"
      "                     sent unchanged\n"
      "  --progress MODE    progress line on standard error: auto (when it is a\n"
      "                     terminal), on or off (default auto)\n"
      "  -h, --help, /?     this text\n"
      "  --version          the program's version\n"
      "\n"
      "Exit status:\n"
      "  0    the board was flashed as ordered\n"
      "  1    no update was attempted: bad usage, no image file, no sockets\n"
      "       library, no address, or the first connection failed\n"
      "  255  (-1) the update run failed; the console output tells where\n",
      out);
}

void PrintToolVersion(FILE* out) {
  std::fprintf(out, "tcpflash %s (%s)\n", TCPFLASH_VERSION, TCPFLASH_REVISION);
}

#include "driver/tool_options.h"

#include <cctype>
#include <cstring>

#include "protocol/wire_format.h"

// TCPFLASH_REVISION: written at every build (cmake/revision.cmake).
#include "tcpflash_revision.h"

#ifndef TCPFLASH_VERSION
#define TCPFLASH_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsageLine =
    "usage: tcpflash [--image FILE] [--progress auto|on|off] [--events FILE]\n"
    "                [--expect-sha256 HEX] [--verify] [--boot-timeout S]\n"
    "                [--expect-version TEXT [--skip-current]] [--ready-timeout S]\n"
    "                [address [port]]\n"
    "       tcpflash --info [--events FILE] [address [port]]\n";

bool IsOption(const char* arg) {
  if (std::strcmp(arg, "/?") == 0) return true;
  return arg[0] == '-' && arg[1] != '\0' && std::isdigit(static_cast<unsigned char>(arg[1])) == 0;
}

int Refuse(const char* what, const char* arg) {
  std::fprintf(stderr, "tcpflash: %s %s\n%s(tcpflash --help tells more)\n", what, arg, kUsageLine);
  return 1;
}

int RefuseSeconds(const char* option, const char* value) {
  char what[64];
  std::snprintf(what, sizeof what, "%s takes seconds from 1 to %d, not", option, TIME_OPTION_MAX_S);
  return Refuse(what, value);
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

// Reads 64 hex digits (either case) into digest[0,SHA256_DIGEST_SIZE).
bool ParseSha256(const char* text, uint8_t* digest) {
  if (std::strlen(text) != 2 * SHA256_DIGEST_SIZE) return false;
  for (int i = 0; i < 2 * SHA256_DIGEST_SIZE; ++i) {
    const char c = text[i];
    int value = 0;
    if (c >= '0' && c <= '9') {
      value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      value = c - 'A' + 10;
    } else {
      return false;
    }
    digest[i / 2] = static_cast<uint8_t>(i % 2 == 0 ? value << 4 : digest[i / 2] | value);
  }
  return true;
}

// Reads whole seconds, 1 to TIME_OPTION_MAX_S, decimal digits only.
bool ParseSeconds(const char* text, int* seconds) {
  int value = 0;
  if (*text == '\0') return false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > TIME_OPTION_MAX_S) return false;
  }
  if (value < 1) return false;
  *seconds = value;
  return true;
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
    } else if (std::strcmp(arg, "--events") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return Refuse("missing value for", arg);
      options->eventsPath = argv[++i];
    } else if (std::strcmp(arg, "--expect-sha256") == 0) {
      if (i + 1 >= argc) return Refuse("missing value for", arg);
      const char* value = argv[++i];
      if (!ParseSha256(value, options->expectedSha256)) {
        return Refuse("--expect-sha256 takes 64 hex digits, not", value);
      }
      options->hasExpectedSha256 = true;
    } else if (std::strcmp(arg, "--verify") == 0) {
      options->verify = true;
    } else if (std::strcmp(arg, "--boot-timeout") == 0) {
      if (i + 1 >= argc) return Refuse("missing value for", arg);
      if (!ParseSeconds(argv[++i], &options->bootTimeoutS)) return RefuseSeconds(arg, argv[i]);
    } else if (std::strcmp(arg, "--ready-timeout") == 0) {
      if (i + 1 >= argc) return Refuse("missing value for", arg);
      if (!ParseSeconds(argv[++i], &options->readyTimeoutS)) return RefuseSeconds(arg, argv[i]);
    } else if (std::strcmp(arg, "--expect-version") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return Refuse("missing value for", arg);
      const char* value = argv[++i];
      // A board reports no more characters than this: a longer text could
      // never match.
      if (std::strlen(value) > static_cast<size_t>(APP_VERSION_CHARS)) {
        return Refuse("--expect-version takes at most 5 characters, not", value);
      }
      options->expectVersion = value;
      options->verify = true;
    } else if (std::strcmp(arg, "--skip-current") == 0) {
      options->skipCurrent = true;
    } else if (std::strcmp(arg, "--info") == 0) {
      options->info = true;
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
  if (options->skipCurrent && options->expectVersion == nullptr) {
    return Refuse("--skip-current needs", "--expect-version");
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
      "  address            the board's IPv4 address: four numbers 0-255 without\n"
      "                     leading zeros (192.168.14.17, not 192.168.14.017); up to\n"
      "                     three characters are completed to 192.168.14.<address>.\n"
      "                     Without an address (or with three or more arguments) the\n"
      "                     tool asks for one.\n"
      "  port               TCP port, 1 to 65535 in decimal digits (default 6666)\n"
      "  --image FILE       image to flash (default: image.uncompressed in the\n"
      "                     working directory); it must be a regular file and is\n"
      "                     sent unchanged\n"
      "  --progress MODE    progress line on standard error: auto (when it is a\n"
      "                     terminal), on or off (default auto)\n"
      "  --events FILE      write the run's events to FILE as JSON Lines, each\n"
      "                     line as it happens; - is standard error (the\n"
      "                     progress line is then off)\n"
      "  --expect-sha256 HEX  the image must hash to HEX (64 hex digits): checked\n"
      "                     before connecting, and the bytes sent are hashed as\n"
      "                     they go out\n"
      "  --verify           after the update, check that the board starts its\n"
      "                     application again\n"
      "  --boot-timeout S   how long --verify waits for the board (default 60)\n"
      "  --expect-version TEXT  the application version the board must report\n"
      "                     after the update (implies --verify)\n"
      "  --skip-current     with --expect-version: a board that already runs TEXT\n"
      "                     is left as it is\n"
      "  --ready-timeout S  give up on a board still busy after S seconds of\n"
      "                     flashing (default 600)\n"
      "  --info             tell what the board runs (mode and version) and change\n"
      "                     nothing; needs no image\n"
      "  -h, --help, /?     this text\n"
      "  --version          the program's version\n"
      "\n"
      "Exit status:\n"
      "  0    the board was flashed as ordered (with --verify: and runs its\n"
      "       application); with --info: the board's mode was read; with\n"
      "       --skip-current: the board already ran the expected version\n"
      "  1    no update was attempted: bad usage (a port that is no port\n"
      "       included), no image file, an image that does not match\n"
      "       --expect-sha256, no sockets library, no address, an address that\n"
      "       is none (\"s err\"), or the first connection failed\n"
      "  2    the image went out and was flashed, but the board does not run\n"
      "       what was asked (--verify, --expect-version)\n"
      "  255  (-1) the update run failed; the console output tells where\n",
      out);
}

const char* ToolVersionText() { return TCPFLASH_VERSION " (" TCPFLASH_REVISION ")"; }

void PrintToolVersion(FILE* out) { std::fprintf(out, "tcpflash %s\n", ToolVersionText()); }

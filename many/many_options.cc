#include "many/many_options.h"

#include <cstring>

namespace {

constexpr const char* kUsageLine =
    "usage: tcpflash-many [--image FILE] [--jobs N] [--log-dir DIR] [--report FILE]\n"
    "                     [--boards FILE] [--board-timeout S] ADDRESS[:PORT]...\n";

int Refuse(FILE* err, const char* what, const char* arg) {
  std::fprintf(err, "tcpflash-many: %s %s\n%s(tcpflash-many --help tells more)\n", what, arg,
               kUsageLine);
  return MANY_EXIT_USAGE;
}

// Parses a decimal number min..max from the whole of text. Returns it, or -1.
int ParseCount(const char* text, int min, int max) {
  if (text[0] == '\0' || std::strlen(text) > 9) return -1;
  int value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10 + (*p - '0');
  }
  return value >= min && value <= max ? value : -1;
}

}  // namespace

int ParseManyOptions(int argc, char** argv, ManyOptions* options, FILE* err) {
  const char* image = nullptr;
  const char* logDir = nullptr;
  const char* report = nullptr;
  const char* boardsFile = nullptr;
  const char* jobs = nullptr;
  const char* timeout = nullptr;
  const struct {
    const char* name;
    const char** value;
  } kValueOptions[] = {{"--image", &image},   {"--log-dir", &logDir},
                       {"--report", &report}, {"--boards", &boardsFile},
                       {"--jobs", &jobs},     {"--board-timeout", &timeout}};

  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      if (options->boardCount >= MAX_BOARDS) return Refuse(err, "more than 256 boards, from", arg);
      options->boards[options->boardCount++] = arg;
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      options->help = true;
      continue;
    }
    if (std::strcmp(arg, "--version") == 0) {
      options->version = true;
      continue;
    }
    const char** value = nullptr;
    for (const auto& option : kValueOptions) {
      if (std::strcmp(arg, option.name) == 0) value = option.value;
    }
    if (value == nullptr) return Refuse(err, "unknown option", arg);
    if (i + 1 >= argc || argv[i + 1][0] == '\0') return Refuse(err, "missing value for", arg);
    if (*value != nullptr) return Refuse(err, "option given twice:", arg);
    *value = argv[++i];
  }
  if (image != nullptr) options->imagePath = image;
  options->logDir = logDir;
  options->reportPath = report;
  options->boardsFile = boardsFile;
  if (jobs != nullptr) {
    options->jobs = ParseCount(jobs, 1, MAX_BOARDS);
    if (options->jobs < 0) return Refuse(err, "--jobs takes a number 1-256, not", jobs);
  }
  if (timeout != nullptr) {
    options->boardTimeoutS = ParseCount(timeout, 1, MAX_BOARD_TIMEOUT_S);
    if (options->boardTimeoutS < 0) {
      return Refuse(err, "--board-timeout takes seconds 1-86400, not", timeout);
    }
  }
  return 0;
}

void PrintManyUsage(FILE* out) {
  std::fputs(kUsageLine, out);
  std::fputs(
      "Flashes one image into many boards: runs one tcpflash (found beside this\n"
      "program) per board, side by side, and logs and reports each board.\n"
      "\n"
      "  ADDRESS[:PORT]      a board: its IPv4 address, as tcpflash takes it (four\n"
      "                      numbers 0-255 without leading zeros; up to three\n"
      "                      characters are completed to 192.168.14.<address>),\n"
      "                      and TCP port 1-65535 (default 6666)\n"
      "  --boards FILE       more boards, one a line; blank lines and anything\n"
      "                      after # are ignored (a regular file of text, at most\n"
      "                      1 MiB)\n"
      "  --image FILE        image to flash (default: image.uncompressed in the\n"
      "                      working directory)\n"
      "  --jobs N            at most N boards at a time (default: all at once)\n"
      "  --log-dir DIR       one log per board, the board's whole console output\n"
      "                      (default: a new folder tcpflash-many-YYYYMMDD-HHMMSS)\n"
      "  --report FILE       JSON report of the run (default: DIR/report.json),\n"
      "                      written as FILE.partial and renamed into place at the end\n"
      "  --board-timeout S   stop a board's tcpflash after S seconds and count the\n"
      "                      board as failed (default 600)\n"
      "  -h, --help          this text\n"
      "  --version           the program's version\n"
      "\n"
      "Ctrl-C (also SIGTERM, or SIGHUP when the terminal closes) starts no more\n"
      "boards and lets the running ones finish; a second one stops them. The\n"
      "table and the report are written either way.\n"
      "\n"
      "Exit status:\n"
      "  0  every board was flashed (its tcpflash ended with 0)\n"
      "  1  at least one board failed or was not started, or a board's log\n"
      "     could not be written whole; the table and the report say which\n"
      "     and how\n"
      "  2  bad usage (no boards, unreadable or empty image, unknown option, a\n"
      "     report or log folder that would overwrite the image, ...): nothing\n"
      "     was started\n",
      out);
}

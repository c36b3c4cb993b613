#include "many/many_options.h"

#include <cstring>

#include "protocol/wire_format.h"

namespace {

constexpr const char* kUsageLine =
    "usage: tcpflash-many [--image FILE] [--verify] [--expect-version TEXT [--skip-current]]\n"
    "                     [--boot-timeout S] [--ready-timeout S] [--jobs N] [--log-dir DIR]\n"
    "                     [--report FILE] [--boards FILE] [--board-timeout S] ADDRESS[:PORT]...\n"
    "       tcpflash-many --info [--jobs N] [--log-dir DIR] [--report FILE] [--boards FILE]\n"
    "                     [--board-timeout S] ADDRESS[:PORT]...\n";

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
  const char* bootTimeout = nullptr;
  const char* readyTimeout = nullptr;
  const char* expectVersion = nullptr;
  const struct {
    const char* name;
    const char** value;
  } kValueOptions[] = {{"--image", &image},
                       {"--log-dir", &logDir},
                       {"--report", &report},
                       {"--boards", &boardsFile},
                       {"--jobs", &jobs},
                       {"--board-timeout", &timeout},
                       {"--boot-timeout", &bootTimeout},
                       {"--ready-timeout", &readyTimeout},
                       {"--expect-version", &expectVersion}};
  const struct {
    const char* name;
    bool* flag;
  } kFlags[] = {{"--verify", &options->proof.verify},
                {"--skip-current", &options->proof.skipCurrent},
                {"--info", &options->info}};

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
    bool* flag = nullptr;
    for (const auto& option : kFlags) {
      if (std::strcmp(arg, option.name) == 0) flag = option.flag;
    }
    if (flag != nullptr) {
      if (*flag) return Refuse(err, "option given twice:", arg);
      *flag = true;
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
  const struct {
    const char* name;
    const char* text;
    int* seconds;
  } kTimeouts[] = {{"--board-timeout", timeout, &options->boardTimeoutS},
                   {"--boot-timeout", bootTimeout, &options->proof.bootTimeoutS},
                   {"--ready-timeout", readyTimeout, &options->proof.readyTimeoutS}};
  for (const auto& t : kTimeouts) {
    if (t.text == nullptr) continue;
    *t.seconds = ParseCount(t.text, 1, MAX_TIMEOUT_S);
    if (*t.seconds < 0) {
      char what[48];
      std::snprintf(what, sizeof what, "%s takes seconds 1-86400, not", t.name);
      return Refuse(err, what, t.text);
    }
  }
  // A board reports no more characters: a longer text could never match.
  if (expectVersion != nullptr && std::strlen(expectVersion) > APP_VERSION_CHARS) {
    return Refuse(err, "--expect-version takes at most 5 characters, not", expectVersion);
  }
  options->proof.expectVersion = expectVersion;
  if (options->proof.skipCurrent && expectVersion == nullptr) {
    return Refuse(err, "--skip-current needs", "--expect-version");
  }
  if (options->info) {
    const char* update = image != nullptr             ? "--image"
                         : options->proof.verify      ? "--verify"
                         : expectVersion != nullptr   ? "--expect-version"
                         : options->proof.skipCurrent ? "--skip-current"
                         : bootTimeout != nullptr     ? "--boot-timeout"
                         : readyTimeout != nullptr    ? "--ready-timeout"
                                                      : nullptr;
    if (update != nullptr) return Refuse(err, "--info changes nothing and takes no", update);
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
      "                      working directory); hashed once, and every board\n"
      "                      must get exactly those bytes (tcpflash\n"
      "                      --expect-sha256)\n"
      "  --verify            check that each board starts its application again\n"
      "  --expect-version TEXT  the application version each board must run\n"
      "                      afterwards (implies --verify)\n"
      "  --skip-current      leave a board that already runs that version as it is\n"
      "  --boot-timeout S    how long a board may take to come back (tcpflash's\n"
      "                      default unless given)\n"
      "  --ready-timeout S   how long a board may stay busy flashing (tcpflash's\n"
      "                      default unless given)\n"
      "  --info              only ask each board what it runs (mode and version);\n"
      "                      needs no image and changes nothing\n"
      "  --jobs N            at most N boards at a time (default: all at once)\n"
      "  --log-dir DIR       per board its whole console output (.log), its\n"
      "                      events (.events.jsonl) and any other error text\n"
      "                      (.stderr.log) (default: a new folder\n"
      "                      tcpflash-many-YYYYMMDD-HHMMSS)\n"
      "  --report FILE       JSON report of the run (default: DIR/report.json),\n"
      "                      written as FILE.partial and renamed into place at the end\n"
      "  --board-timeout S   stop a board's tcpflash after S seconds and count the\n"
      "                      board as failed (default: never; tcpflash bounds\n"
      "                      each of its waits itself)\n"
      "  -h, --help          this text\n"
      "  --version           the program's version\n"
      "\n"
      "Ctrl-C (also SIGTERM, or SIGHUP when the terminal closes) starts no more\n"
      "boards and lets the running ones finish; a second one stops them. The\n"
      "table and the report are written either way.\n"
      "\n"
      "Exit status:\n"
      "  0  every board was flashed (its tcpflash ended with 0: flashed, verified\n"
      "     when asked, or left as it was by --skip-current), or with --info\n"
      "     every board answered; and every board's records were written whole\n"
      "  1  at least one board failed or was not started (a board whose tcpflash\n"
      "     ended with 2, flashed but not running what was asked, failed too), or\n"
      "     a board's records could not be written whole; the table and the\n"
      "     report say which and how\n"
      "  2  bad usage (no boards, unreadable or empty image, unknown option, a\n"
      "     report or log folder that would overwrite the image, ...): nothing\n"
      "     was started\n",
      out);
}

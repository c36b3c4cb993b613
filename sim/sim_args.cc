#include "sim/sim_args.h"

#include <cstdlib>
#include <cstring>

#include "protocol/device_peer.h"
#include "protocol/wire_format.h"

namespace {

// Options that take no value: the switch they set.
struct FlagOption {
  const char* name;
  bool SimOptions::*field;
};

constexpr FlagOption kFlags[] = {
    {"--once", &SimOptions::once},
    {"--quiet", &SimOptions::quiet},
    {"--bad-state", &SimOptions::badState},
    {"--no-loader", &SimOptions::noLoader},
    {"--stay-app", &SimOptions::stayApp},
    {"--fragment", &SimOptions::fragment},
    {"--ack-everything", &SimOptions::ackEverything},
    {"--blackhole", &SimOptions::blackhole},
    {"--blackhole-after-switch", &SimOptions::blackholeAfterSwitch},
    {"--busy-forever", &SimOptions::busyForever},
    {"--until-boot", &SimOptions::untilBoot},
    {"--no-boot", &SimOptions::noBoot},
    {"--boot-into-loader", &SimOptions::bootIntoLoader},
};

// Options that take a whole number within [low, high].
struct IntOption {
  const char* name;
  int SimOptions::*field;
  long low;
  long high;
};

constexpr IntOption kInts[] = {
    {"--port", &SimOptions::port, 0, 65535},
    {"--mode", &SimOptions::mode, 0, 255},
    {"--busy", &SimOptions::busy, 0, 1000000},
    {"--delay", &SimOptions::delayMs, 0, 600000},
    {"--trickle-ms", &SimOptions::trickleMs, 1, 600000},
    {"--stall-ms", &SimOptions::stallMs, 1, 86400000},
    {"--erase-ms", &SimOptions::eraseMs, 0, 600000},
    {"--link-kbps", &SimOptions::linkKbps, 1, 10000000},
    {"--flash-ms-per-mb", &SimOptions::flashMsPerMb, 0, 600000},
    {"--reboot-ms", &SimOptions::rebootMs, 0, 600000},
};

// Options that take a STEP[:K].
struct StepOption {
  const char* name;
  StepAt SimOptions::*field;
  bool needsStatus;  // only steps whose answer carries a status
};

constexpr StepOption kSteps[] = {
    {"--refuse", &SimOptions::refuse, true},       {"--silent-at", &SimOptions::silentAt, false},
    {"--hangup-at", &SimOptions::hangupAt, false}, {"--reset-at", &SimOptions::resetAt, false},
    {"--babble-at", &SimOptions::babbleAt, false}, {"--trickle-at", &SimOptions::trickleAt, false},
    {"--stall-at", &SimOptions::stallAt, false},
};

// Reads a whole decimal number within [low, high].
bool ParseInt(const char* text, long low, long high, int* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

// Decodes text, in which "\xHH" stands for the byte HH and "\\" for a
// backslash, into out[0,SIM_LOADER_VERSION_SIZE) and its length into
// *length. Returns false for another escape or more than a version reply
// carries.
bool DecodeVersionText(const char* text, char* out, int* length) {
  static_assert(LOADER_VERSION_MAX_CHARS < SIM_LOADER_VERSION_SIZE, "room for the longest text");
  const auto hexValue = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  int n = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (n == LOADER_VERSION_MAX_CHARS) return false;
    int c = static_cast<unsigned char>(*p);
    if (c == '\\' && p[1] == '\\') {
      ++p;
    } else if (c == '\\') {
      // p[2] is read only when p[1] is 'x', p[3] only when p[2] is a digit.
      const int high = p[1] == 'x' ? hexValue(p[2]) : -1;
      const int low = high >= 0 ? hexValue(p[3]) : -1;
      if (low < 0) return false;
      c = high * 16 + low;
      p += 3;
    }
    out[n++] = static_cast<char>(c);
  }
  *length = n;
  return true;
}

// True when arg names an option that takes a value.
bool TakesValue(const char* arg) {
  for (const IntOption& option : kInts) {
    if (std::strcmp(arg, option.name) == 0) return true;
  }
  for (const StepOption& option : kSteps) {
    if (std::strcmp(arg, option.name) == 0) return true;
  }
  return std::strcmp(arg, "--timeout") == 0 || std::strcmp(arg, "--image-out") == 0 ||
         std::strcmp(arg, "--new-version") == 0 || std::strcmp(arg, "--loader-version") == 0;
}

// Takes value as the value of the option arg into *options. Returns false
// for a bad value (or an option that takes none).
bool TakeValue(const char* arg, const char* value, SimOptions* options) {
  for (const IntOption& option : kInts) {
    if (std::strcmp(arg, option.name) == 0) {
      return ParseInt(value, option.low, option.high, &(options->*option.field));
    }
  }
  for (const StepOption& option : kSteps) {
    if (std::strcmp(arg, option.name) != 0) continue;
    StepAt at;
    if (ParseStepAt(value, &at) != 0 || (option.needsStatus && !StepHasStatus(at.step))) {
      return false;
    }
    options->*option.field = at;
    return true;
  }
  if (std::strcmp(arg, "--timeout") == 0) {
    int seconds = 0;
    if (!ParseInt(value, 1, 86400, &seconds)) return false;
    options->timeoutMs = seconds * 1000;
    return true;
  }
  if (std::strcmp(arg, "--image-out") == 0) {
    options->imageOut = value;
    return true;
  }
  if (std::strcmp(arg, "--new-version") == 0) {
    // The version reply has room for this many characters and no more.
    const size_t n = std::strlen(value);
    if (n == 0 || n > static_cast<size_t>(APP_VERSION_CHARS)) return false;
    options->newVersion = value;
    return true;
  }
  if (std::strcmp(arg, "--loader-version") == 0) {
    return DecodeVersionText(value, options->loaderVersion, &options->loaderVersionLength);
  }
  return false;
}

}  // namespace

void PrintSimUsage(FILE* out) {
  std::fputs(
      "usage: tcpflash-sim [options]\n"
      "Plays the device on a local port: application firmware, then the\n"
      "update loader on the same port once the switch was acknowledged and the tool\n"
      "hung up; after the close command the board restarts into its application.\n"
      "  --port N          port to listen on; 0 picks a free one (default 0)\n"
      "  --mode N          mode reported before the switch, 0-255 (default 1)\n"
      "  --busy N          answer N state polls busy before ready (default 0)\n"
      "  --image-out FILE  write the received image to FILE\n"
      "  --once            end after one session: the tool's disconnect other than\n"
      "                    the one that starts the loader (see --until-boot)\n"
      "  --timeout S       exit whatever happens after S seconds (default 120)\n"
      "  --quiet           no log line per data frame\n"
      "  --loader-version TEXT  the loader's version text (default SIM-LOADER 1.0),\n"
      "                    at most 45 bytes; \\xHH is the byte HH, \\\\ a\n"
      "                    backslash\n"
      "faults at a step:\n"
      "  --refuse STEP     acknowledge STEP with status 0x01 (steps with a status:\n"
      "                    app-query app-version app-start loader-query reset)\n"
      "  --silent-at STEP  answer nothing from STEP on\n"
      "  --hangup-at STEP  close the connection when STEP arrives\n"
      "  --reset-at STEP   drop the connection with a reset (RST) when STEP arrives\n"
      "  --babble-at STEP  from STEP on answer nothing but stream noise that never\n"
      "                    ends a frame (64 bytes every 10 ms, a start marker every\n"
      "                    512 bytes, no end marker) until the tool hangs up\n"
      "  --trickle-at STEP send STEP's answer one byte every --trickle-ms (default\n"
      "                    1000); the other answers go out normally\n"
      "  --stall-at STEP   behind STEP neither read nor answer for --stall-ms, or\n"
      "                    for good without it; STEP's answer follows the stall\n"
      "faults of the whole run:\n"
      "  --bad-state       answer the first state poll with a bad escape sequence\n"
      "  --no-loader       stop listening at the switch\n"
      "  --stay-app        report mode 1 after the switch\n"
      "  --busy-forever    answer every state poll busy: the flash never finishes\n"
      "  --blackhole       never take a connection: the port drops connection\n"
      "                    requests, so a connect hangs until its own time-out\n"
      "  --blackhole-after-switch  the application answers; once the switch was\n"
      "                    acknowledged and the tool hung up, the port drops\n"
      "                    connection requests\n"
      "  --ack-everything  the loader acknowledges every command, each data frame\n"
      "                    included; replies the tool does not read fill a small send\n"
      "                    buffer and are then dropped while the board reads on\n"
      "  --fragment        send replies in pieces of 1-3 bytes behind stray bytes\n"
      "  --delay MS        wait MS before answering each command (reading goes on)\n"
      "the restart behind the close command:\n"
      "  --reboot-ms N     once the tool hung up after the close command, refuse\n"
      "                    connections for N ms (default 1000), then play the\n"
      "                    application again: mode 1, its version, the switch\n"
      "  --new-version TEXT  the application version reported after the restart,\n"
      "                    1 to 5 characters, shorter ones padded with spaces\n"
      "                    (default: the version reported before, SIM01)\n"
      "  --no-boot         never come back: once the tool hung up after the close\n"
      "                    command the port drops connection requests, as with\n"
      "                    --blackhole, until --timeout\n"
      "  --boot-into-loader  come back as the update loader (mode 2) instead\n"
      "  --until-boot      implies --once, which then ends after the restarted\n"
      "                    board's first session (the tool's boot check) instead\n"
      "                    of after the session that carried the close command\n"
      "a board's own pauses:\n"
      "  --erase-ms N      read nothing for N ms behind each flash-data reset\n"
      "  --link-kbps N     take the tool's data at N kB/s (1000 bytes) at most\n"
      "  --flash-ms-per-mb N  answer state polls busy until N ms per MiB of image\n"
      "                    have passed since the flash start\n"
      "STEP: app-query app-version app-start loader-query loader-version\n"
      "  reset-flashdata data set-offset start-flash state reset close, optionally\n"
      "  :K for its K-th occurrence (data:3 the third data frame); loader-query is a\n"
      "  mode query while the loader plays (after the switch, or with --mode above 1)\n"
      "stdout: the line \"port N\" once listening. stderr: one line per frame and\n"
      "  connection event, \"sim: <step>:<K> seq <n>\" or \"sim: <step>:<K> len <n>\",\n"
      "  and one per fault event (\"sim: babbling from here on\").\n"
      "exit status: 0 an update ended with the close command (--once; with\n"
      "  --until-boot, and the restarted board then served a session), 1 usage or\n"
      "  start-up error, 2 deadline reached (a blackhole always ends so, and\n"
      "  --until-boot with --no-boot), 3 the session ended without close or the\n"
      "  loader was withheld (--no-loader)\n",
      out);
}

int ParseSimArgs(int argc, const char* const* argv, SimOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return 1;
    bool isFlag = false;
    for (const FlagOption& flag : kFlags) {
      if (std::strcmp(arg, flag.name) == 0) {
        options->*flag.field = true;
        isFlag = true;
      }
    }
    if (isFlag) continue;
    if (!TakesValue(arg)) {
      std::fprintf(stderr, "tcpflash-sim: unknown option %s (see --help)\n", arg);
      return -1;
    }
    if (i + 1 >= argc || !TakeValue(arg, argv[i + 1], options)) {
      std::fprintf(stderr, "tcpflash-sim: bad or missing value for %s (see --help)\n", arg);
      return -1;
    }
    ++i;
  }
  if (options->noBoot && options->bootIntoLoader) {
    std::fprintf(stderr, "tcpflash-sim: --no-boot and --boot-into-loader exclude each other\n");
    return -1;
  }
  if (options->untilBoot) options->once = true;
  return 0;
}

#include "sim/sim_args.h"

#include <cstdlib>
#include <cstring>

namespace {

// Reads a whole decimal number within [low, high].
bool ParseInt(const char* text, long low, long high, int* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

// The option's switch in *options when arg names one that takes no value,
// else null.
bool* FindFlag(const char* arg, SimOptions* options) {
  const struct {
    const char* name;
    bool SimOptions::*field;
  } kFlags[] = {
      {"--once", &SimOptions::once},          {"--quiet", &SimOptions::quiet},
      {"--bad-state", &SimOptions::badState}, {"--no-loader", &SimOptions::noLoader},
      {"--stay-app", &SimOptions::stayApp},   {"--fragment", &SimOptions::fragment},
  };
  for (const auto& flag : kFlags) {
    if (std::strcmp(arg, flag.name) == 0) return &(options->*flag.field);
  }
  return nullptr;
}

}  // namespace

void PrintSimUsage(FILE* out) {
  std::fputs(
      "usage: tcpflash-sim [options]\n"
      "Plays the device on a local port: application firmware, then the\n"
      "update loader on the same port once the switch was acknowledged and the tool\n"
      "hung up.\n"
      "  --port N          port to listen on; 0 picks a free one (default 0)\n"
      "  --mode N          mode reported before the switch, 0-255 (default 1)\n"
      "  --busy N          answer N state polls busy before ready (default 0)\n"
      "  --image-out FILE  write the received image to FILE\n"
      "  --once            end after one session: the tool's disconnect other than\n"
      "                    the one that starts the loader\n"
      "  --timeout S       exit whatever happens after S seconds (default 120)\n"
      "  --quiet           no log line per data frame\n"
      "faults:\n"
      "  --refuse STEP     acknowledge STEP with status 0x01 (steps with a status:\n"
      "                    app-query app-version app-start loader-query reset)\n"
      "  --silent-at STEP  answer nothing from STEP on\n"
      "  --hangup-at STEP  close the connection when STEP arrives\n"
      "  --bad-state       answer the first state poll with a bad escape sequence\n"
      "  --no-loader       stop listening at the switch\n"
      "  --stay-app        report mode 1 after the switch\n"
      "  --fragment        send replies in pieces of 1-3 bytes behind stray bytes\n"
      "  --delay MS        wait MS before answering each command\n"
      "STEP: app-query app-version app-start loader-query loader-version\n"
      "  reset-flashdata data set-offset start-flash state reset close, optionally\n"
      "  :K for its K-th occurrence (data:3 the third data frame); loader-query is a\n"
      "  mode query while the loader plays (after the switch, or with --mode above 1)\n"
      "stdout: the line \"port N\" once listening. stderr: one line per frame and\n"
      "  connection event, \"sim: <step>:<K> seq <n>\" or \"sim: <step>:<K> len <n>\".\n"
      "exit status: 0 an update ended with the close command (--once), 1 usage or\n"
      "  start-up error, 2 deadline reached, 3 the session ended without close or the\n"
      "  loader was withheld (--no-loader)\n",
      out);
}

int ParseSimArgs(int argc, const char* const* argv, SimOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = true;
    bool takesValue = true;
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      return 1;
    } else if (bool* flag = FindFlag(arg, options)) {
      *flag = true;
      takesValue = false;
    } else if (value == nullptr) {
      ok = false;
    } else if (std::strcmp(arg, "--port") == 0) {
      ok = ParseInt(value, 0, 65535, &options->port);
    } else if (std::strcmp(arg, "--mode") == 0) {
      ok = ParseInt(value, 0, 255, &options->mode);
    } else if (std::strcmp(arg, "--busy") == 0) {
      ok = ParseInt(value, 0, 1000000, &options->busy);
    } else if (std::strcmp(arg, "--delay") == 0) {
      ok = ParseInt(value, 0, 600000, &options->delayMs);
    } else if (std::strcmp(arg, "--timeout") == 0) {
      int seconds = 0;
      ok = ParseInt(value, 1, 86400, &seconds);
      options->timeoutMs = seconds * 1000;
    } else if (std::strcmp(arg, "--image-out") == 0) {
      options->imageOut = value;
    } else if (std::strcmp(arg, "--refuse") == 0) {
      ok = ParseStepAt(value, &options->refuse) == 0 && StepHasStatus(options->refuse.step);
    } else if (std::strcmp(arg, "--silent-at") == 0) {
      ok = ParseStepAt(value, &options->silentAt) == 0;
    } else if (std::strcmp(arg, "--hangup-at") == 0) {
      ok = ParseStepAt(value, &options->hangupAt) == 0;
    } else {
      std::fprintf(stderr, "tcpflash-sim: unknown option %s (see --help)\n", arg);
      return -1;
    }
    if (!ok) {
      std::fprintf(stderr, "tcpflash-sim: bad or missing value for %s (see --help)\n", arg);
      return -1;
    }
    if (takesValue) ++i;
  }
  return 0;
}

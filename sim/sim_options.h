// What the simulated device is told to do: the command steps faults are tied
// to, the options of one run and the simulator's exit statuses. Free of any
// socket code, so that the command line can be parsed and tested alone.
#ifndef TCPFLASH_SIM_SIM_OPTIONS_H_
#define TCPFLASH_SIM_SIM_OPTIONS_H_

#include <cstdio>

// The commands a fault can be tied to. kNone ties nothing.
enum class Step {
  kNone,
  kAppQuery,     // mode query while the application plays
  kAppVersion,   // APP_VERSION
  kAppStart,     // APP_START_UPDATE
  kLoaderQuery,  // mode query while the loader plays
  kLoaderVersion,
  kResetFlashdata,
  kData,
  kSetOffset,
  kStartFlash,
  kState,
  kReset,
  kClose,
  kUnknown,  // a frame of neither command set
};

// Number of Step values, for tables indexed by step.
constexpr int STEP_COUNT = static_cast<int>(Step::kUnknown) + 1;

// Name of a step as the command line and the log spell it ("none" for
// kNone).
const char* StepName(Step step);

// A step and which of its occurrences counts (1 the first).
struct StepAt {
  Step step = Step::kNone;
  int occurrence = 1;
};

// Parses "name" or "name:K" (K >= 1) into *at. Returns 0, or -1 for an
// unknown name or a bad K (*at unchanged).
int ParseStepAt(const char* text, StepAt* at);

// True for the steps whose answer carries a status a fault can spoil.
bool StepHasStatus(Step step);

// Room for the loader's version text: more than a version reply carries.
constexpr int SIM_LOADER_VERSION_SIZE = 64;

struct SimOptions {
  int port = 0;
  int mode = 1;  // mode reported before the switch
  int busy = 0;  // busy answers before ready, per flash start
  const char* imageOut = nullptr;
  bool once = false;
  // With once: the run ends after the restarted board's first session
  // instead of after the one that carried the close command.
  bool untilBoot = false;
  int timeoutMs = 120000;
  bool quiet = false;
  FILE* log = stderr;  // null: no log
  // Faults tied to a step.
  StepAt refuse;
  StepAt silentAt;
  StepAt hangupAt;
  StepAt resetAt;
  StepAt babbleAt;
  StepAt trickleAt;
  int trickleMs = 1000;  // pause before each byte of the trickled answer
  StepAt stallAt;
  int stallMs = 0;  // 0: the stall lasts for good
  // Faults of the whole run.
  bool badState = false;
  bool noLoader = false;
  bool stayApp = false;
  bool fragment = false;
  int delayMs = 0;
  bool ackEverything = false;
  bool blackhole = false;
  bool blackholeAfterSwitch = false;
  bool busyForever = false;  // every state poll is answered busy
  // The restart behind the close command: connections are refused for
  // rebootMs, then the application plays again and reports newVersion (null:
  // the version it reported before). noBoot: the port goes dark for good
  // instead; bootIntoLoader: the update loader comes back, not the
  // application.
  int rebootMs = 1000;
  const char* newVersion = nullptr;  // 1 to APP_VERSION_CHARS characters
  bool noBoot = false;
  bool bootIntoLoader = false;
  // A board's own pauses.
  int eraseMs = 0;       // no reading for this long behind the flash-data reset
  int linkKbps = 0;      // kB/s (1000 bytes) taken at most; 0: no limit
  int flashMsPerMb = 0;  // busy after the flash start for this long per MiB of image
  // The loader's version text, zero-terminated (so without NUL bytes).
  // Any bytes, NUL too: loaderVersion[0,loaderVersionLength).
  char loaderVersion[SIM_LOADER_VERSION_SIZE] = "SIM-LOADER 1.0";
  int loaderVersionLength = sizeof "SIM-LOADER 1.0" - 1;
};

// Process exit statuses of the simulator.
// A whole update ended with the close command (with untilBoot: and the
// restarted board served its first session).
constexpr int SIM_EXIT_UPDATED = 0;
constexpr int SIM_EXIT_USAGE = 1;      // bad command line or the port/image file failed
constexpr int SIM_EXIT_DEADLINE = 2;   // the safety deadline passed
constexpr int SIM_EXIT_NO_UPDATE = 3;  // the session ended without a close command

#endif  // TCPFLASH_SIM_SIM_OPTIONS_H_

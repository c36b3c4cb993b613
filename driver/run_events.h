// What one run of tcpflash tells programs: the events of the run as it
// happens and how it ended. The run reports to a RunObserver; the event
// stream's writer (driver/event_writer.h) turns that into JSON lines, and
// tcpflash-many reads the names below back from them.
#ifndef TCPFLASH_DRIVER_RUN_EVENTS_H_
#define TCPFLASH_DRIVER_RUN_EVENTS_H_

#include <cstddef>
#include <cstdint>

#include "protocol/reply.h"

// The run's phases, in the order a run passes through them.
enum class RunPhase {
  kSwitching,
  kLoader,
  kSending,
  kFlashing,
  kResetting,
  kClosing,
  kVerifying,  // checking that the board starts its application again
};

// The loader commands whose sending the run reports.
enum class RunStep { kResetFlashdata, kSetOffset, kStartFlash, kReset, kClose };

enum class VersionOf { kApplication, kLoader };

// Why a run ended without a flashed board: one name per cause.
enum class RunFailure {
  kNone,
  kUsage,              // an argument refused once the options were read
  kNoAddress,          // input ended at the prompt
  kNoImage,            // the image file could not be opened
  kSockets,            // the sockets library did not start
  kAddress,            // an address the sockets cannot use ("s err")
  kNoSocket,           // no socket could be made
  kConnect,            // the first connection failed
  kNoDevice,           // no mode from the board
  kLoaderUnreachable,  // no connection to the update loader after the switch
  kNotLoader,          // after the switch the board is not in its update loader
  kWrite,              // a data frame was not sent
  kImageChanged,       // the image file changed while it was sent
  kImageUnreadable,    // the image file could not be read while it was sent
  kNoState,            // no state reply while waiting for ready
  kNotOrdered,         // a step that flashing needs could not be sent
  kImageMismatch,      // the image does not hash to the expected SHA-256
  kBoot,               // the board did not start its application again
  kBootLoader,         // the board started its update loader again
  kVersionMismatch,    // the board runs another version than expected
  kNotReady,           // the board stayed busy past the ready bound
};

// The failure's name in the event stream ("no-device", ...); null for kNone.
const char* RunFailureName(RunFailure failure);

// The failure named text[0,length), or kNone when no failure has that name.
RunFailure RunFailureFromName(const char* text, size_t length);

// The names in the event stream: "switching", ...; "reset-flashdata", ...;
// "application" or "loader".
const char* RunPhaseName(RunPhase phase);
const char* RunStepName(RunStep step);
const char* VersionOfName(VersionOf of);

// The phase named text[0,length) into *phase. Returns false for none.
bool RunPhaseFromName(const char* text, size_t length, RunPhase* phase);

// How a run ended: status is what the program returns.
struct RunResult {
  int status = 0;
  bool flashed = false;  // only with status 0 after an update
  RunFailure failure = RunFailure::kNone;
  bool skipped = false;  // the board already ran the expected version
  // The application version the board reported after the update.
  bool hasVersionAfter = false;
  VersionText versionAfter;
};

// Hears of a run as it happens, on the run's own thread. Texts are handed
// as bytes with their length: a board may send any byte, NUL included.
class RunObserver {
 public:
  // The target and the image are known; imageSize is -1 when the image could
  // not be opened, imagePath null when the run needs none (--info).
  virtual void Started(const char* address, int port, const char* imagePath,
                       long long imageSize) = 0;
  // A connection stands: attempt 1 is the first, later ones the reconnect's.
  virtual void Connected(int attempt) = 0;
  // The board reported mode (0 when it reported none).
  virtual void ModeReported(int mode) = 0;
  virtual void VersionReported(VersionOf of, const uint8_t* text, int length) = 0;
  virtual void PhaseBegan(RunPhase phase) = 0;
  // sent of total image bytes were handed to the connection; called after
  // every data frame (so it must be cheap), and with done set once when the
  // transfer ends.
  virtual void TransferAdvanced(long long sent, long long total, bool done) = 0;
  virtual void StepSent(RunStep step, bool ok) = 0;
  // Last, exactly once per run.
  virtual void Ended(const RunResult& result) = 0;

 protected:
  ~RunObserver() = default;
};

// Hears nothing: the run without --events.
class SilentRunObserver final : public RunObserver {
 public:
  void Started(const char*, int, const char*, long long) override {}
  void Connected(int) override {}
  void ModeReported(int) override {}
  void VersionReported(VersionOf, const uint8_t*, int) override {}
  void PhaseBegan(RunPhase) override {}
  void TransferAdvanced(long long, long long, bool) override {}
  void StepSent(RunStep, bool) override {}
  void Ended(const RunResult&) override {}
};

#endif  // TCPFLASH_DRIVER_RUN_EVENTS_H_

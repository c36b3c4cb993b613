// The simulated device: application firmware first, then, after it
// acknowledged the switch and the tool hung up, the update loader on the same
// listening port. Runs in-process so that tests can drive it on a thread.
#ifndef TCPFLASH_SIM_DEVICE_SIM_H_
#define TCPFLASH_SIM_DEVICE_SIM_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "net/tcp_endpoint.h"
#include "protocol/device_peer.h"
#include "sim/frame_stream_decoder.h"

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

// Name of a step as the command line and the log spell it.
const char* StepName(Step step);

// A step and which of its occurrences counts (1 the first).
struct StepAt {
  Step step = Step::kNone;
  int occurrence = 1;
};

// Parses "name" or "name:K" (K >= 1) into *at. Returns 0, or -1 for an
// unknown name or a bad K.
int ParseStepAt(const char* text, StepAt* at);

// True for the steps whose answer carries a status a fault can spoil.
bool StepHasStatus(Step step);

struct SimOptions {
  int port = 0;
  int mode = 1;  // mode reported before the switch
  int busy = 0;  // busy answers before ready, per flash start
  const char* imageOut = nullptr;
  bool once = false;
  int timeoutMs = 120000;
  StepAt refuse;
  StepAt silentAt;
  StepAt hangupAt;
  bool badState = false;
  bool noLoader = false;
  bool stayApp = false;
  bool fragment = false;
  int delayMs = 0;
  bool quiet = false;
  FILE* log = stderr;  // null: no log
};

// Process exit statuses of the simulator.
constexpr int SIM_EXIT_UPDATED = 0;    // a whole update ended with the close command
constexpr int SIM_EXIT_USAGE = 1;      // bad command line or the port/image file failed
constexpr int SIM_EXIT_DEADLINE = 2;   // the safety deadline passed
constexpr int SIM_EXIT_NO_UPDATE = 3;  // the session ended without a close command

class DeviceSim : private FrameSink {
 public:
  explicit DeviceSim(const SimOptions& options);
  DeviceSim(const DeviceSim&) = delete;
  DeviceSim& operator=(const DeviceSim&) = delete;
  ~DeviceSim() override;

  // Opens the image file and starts listening. Returns 0, or SIM_EXIT_USAGE.
  int Start();
  // The port listened on, once Start succeeded.
  int Port() { return endpoint_.LocalPort(); }
  // Serves connections until the session ends (--once), the loader is
  // withheld, the deadline passes or Stop is called. Returns a SIM_EXIT_*.
  int Run();
  // Makes Run return SIM_EXIT_DEADLINE soon; callable from any thread.
  void Stop() { stopRequested_ = true; }

  long long imageBytes() const { return imageBytes_; }
  // The last finished data phase (an unbroken run of data frames): its image
  // bytes and the time from its first to its last frame's arrival. Each one
  // is also logged as "data phase: ...".
  long long dataPhaseBytes() const { return phaseBytesDone_; }
  double dataPhaseSeconds() const { return phaseSecondsDone_; }

 private:
  enum class Conn { kEnded, kExpired };
  void OnFrame(const uint8_t* content, int n) override;
  void OnReject(FrameReject reason) override;
  bool Expired() const;
  Conn Serve();
  Step Classify(const DeviceRequest& request) const;
  bool Hits(const StepAt& at, Step step, int occurrence) const;
  void Reply(const uint8_t* frame, int len);
  void Answer(Step step, const DeviceRequest& request, bool refused);
  void WriteImage(const uint8_t* data, int n);
  void ReopenImage();
  void FlushDataSummary();
  void EndDataPhase();
  void Log(const char* format, ...);

  SimOptions options_;
  // Listens for the whole run; hanging up closes only the data socket, so
  // that the port stays open for the next connection.
  TcpEndpoint endpoint_;
  FrameStreamDecoder decoder_;
  std::chrono::steady_clock::time_point deadline_;
  std::atomic<bool> stopRequested_{false};
  FILE* image_ = nullptr;
  bool imageFailed_ = false;
  bool loaderPlays_ = false;
  int reportedMode_ = 1;
  bool switchPending_ = false;
  bool silent_ = false;
  bool hungUp_ = false;
  bool closeSeen_ = false;
  int statePolls_ = 0;
  bool badStateSent_ = false;
  int occurrences_[static_cast<int>(Step::kUnknown) + 1] = {};
  long long imageBytes_ = 0;
  long long dataFrames_ = 0;
  long long dataFramesUnlogged_ = 0;
  long long phaseFrames_ = 0;
  long long phaseBytes_ = 0;
  std::chrono::steady_clock::time_point phaseFirst_;
  std::chrono::steady_clock::time_point phaseLast_;
  long long phaseBytesDone_ = 0;
  double phaseSecondsDone_ = 0;
  uint32_t pieceSeed_ = 12345;
  char imageBuffer_[1 << 16];
  uint8_t block_[1 << 16];
};

#endif  // TCPFLASH_SIM_DEVICE_SIM_H_

#include "sim/device_sim.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "protocol/app_commands.h"
#include "protocol/loader_commands.h"

namespace {

// Every command a fault or the log can name, and how to recognise it.
struct StepEntry {
  Step step;
  const char* name;
  RequestKind kind;
  uint8_t command;
  bool hasStatus;
};

constexpr StepEntry kSteps[] = {
    {Step::kAppQuery, "app-query", RequestKind::kApp, APP_QUERY_MODE, true},
    {Step::kAppVersion, "app-version", RequestKind::kApp, APP_VERSION, true},
    {Step::kAppStart, "app-start", RequestKind::kApp, APP_START_UPDATE, true},
    {Step::kLoaderQuery, "loader-query", RequestKind::kApp, APP_QUERY_MODE, true},
    {Step::kLoaderVersion, "loader-version", RequestKind::kLoader, LOADER_VERSION, false},
    {Step::kResetFlashdata, "reset-flashdata", RequestKind::kLoader, LOADER_RESET_FLASHDATA, false},
    {Step::kData, "data", RequestKind::kLoader, LOADER_DATA, false},
    {Step::kSetOffset, "set-offset", RequestKind::kLoader, LOADER_SET_OFFSET, false},
    {Step::kStartFlash, "start-flash", RequestKind::kLoader, LOADER_START_FLASH, false},
    {Step::kState, "state", RequestKind::kLoader, LOADER_DEVICE_STATE, false},
    {Step::kReset, "reset", RequestKind::kLoader, LOADER_DEVICE_RESET, true},
    {Step::kClose, "close", RequestKind::kLoader, LOADER_CLOSE, false},
    {Step::kUnknown, "unknown", RequestKind::kUnknown, 0, false},
};

const StepEntry* FindStep(Step step) {
  for (const StepEntry& entry : kSteps) {
    if (entry.step == step) return &entry;
  }
  return nullptr;
}

constexpr char kAppVersionText[] = "SIM01";
constexpr char kLoaderVersionText[] = "SIM-LOADER 1.0";
constexpr uint8_t kStatusRefused = 0x01;
constexpr uint8_t kStateBusy = 0x01;
constexpr uint8_t kStateReady = 0x00;
// A state reply whose escape code 0x03 no receiver may accept.
constexpr uint8_t kBadStateFrame[] = {FRAME_START,  0x00, 0x02,     LOADER_DEVICE_STATE,
                                      FRAME_ESCAPE, 0x03, FRAME_END};
// Noise before a fragmented reply; a receiver hunting for the start marker
// must drop all of it, the end marker included.
constexpr uint8_t kStrayBytes[] = {0x00, 0x55, FRAME_END};

constexpr int kReceiveWaitMs = 20;
constexpr int kAcceptPauseMs = 5;

}  // namespace

const char* StepName(Step step) {
  const StepEntry* entry = FindStep(step);
  return entry != nullptr ? entry->name : "none";
}

bool StepHasStatus(Step step) {
  const StepEntry* entry = FindStep(step);
  return entry != nullptr && entry->hasStatus;
}

int ParseStepAt(const char* text, StepAt* at) {
  const char* colon = std::strchr(text, ':');
  const size_t nameLength =
      colon != nullptr ? static_cast<size_t>(colon - text) : std::strlen(text);
  int occurrence = 1;
  if (colon != nullptr) {
    char* end = nullptr;
    const long k = std::strtol(colon + 1, &end, 10);
    if (end == colon + 1 || *end != '\0' || k < 1 || k > 1000000000L) return -1;
    occurrence = static_cast<int>(k);
  }
  for (const StepEntry& entry : kSteps) {
    if (entry.step != Step::kUnknown && std::strlen(entry.name) == nameLength &&
        std::strncmp(entry.name, text, nameLength) == 0) {
      at->step = entry.step;
      at->occurrence = occurrence;
      return 0;
    }
  }
  return -1;
}

DeviceSim::DeviceSim(const SimOptions& options) : options_(options) {
  loaderPlays_ = options_.mode > MODE_APPLICATION;
  reportedMode_ = options_.mode;
}

DeviceSim::~DeviceSim() {
  endpoint_.Close();
  if (image_ != nullptr) std::fclose(image_);
}

void DeviceSim::Log(const char* format, ...) {
  if (options_.log == nullptr) return;
  char line[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(options_.log, "sim: %s\n", line);
  std::fflush(options_.log);
}

int DeviceSim::Start() {
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeoutMs);
  if (options_.imageOut != nullptr) {
    ReopenImage();
    if (image_ == nullptr) {
      Log("cannot write image file %s", options_.imageOut);
      return SIM_EXIT_USAGE;
    }
  }
  if (endpoint_.startupError != 0 || endpoint_.SetTarget("", "", options_.port) != 0 ||
      endpoint_.Listen() != 0) {
    Log("cannot listen on port %d", options_.port);
    endpoint_.Close();
    return SIM_EXIT_USAGE;
  }
  Log("listening on port %d, mode %d", Port(), options_.mode);
  return 0;
}

bool DeviceSim::Expired() const {
  return stopRequested_ || std::chrono::steady_clock::now() >= deadline_;
}

int DeviceSim::Run() {
  for (;;) {
    if (Expired()) {
      Log("deadline reached");
      endpoint_.Close();
      return SIM_EXIT_DEADLINE;
    }
    const int accepted = endpoint_.Accept();
    if (accepted != 0) {
      Sleep(kAcceptPauseMs);
      continue;
    }
    Log("connect %s", endpoint_.peerAddress);
    decoder_.Reset();
    hungUp_ = false;
    const Conn ended = Serve();
    endpoint_.CloseData();
    FlushDataSummary();
    EndDataPhase();
    if (ended == Conn::kExpired) continue;
    Log("disconnect");
    if (switchPending_) {
      switchPending_ = false;
      loaderPlays_ = true;
      reportedMode_ = options_.stayApp ? MODE_APPLICATION : MODE_UPDATELOADER;
      if (options_.noLoader) {
        Log("loader withheld: no longer listening");
        endpoint_.Close();
        return SIM_EXIT_NO_UPDATE;
      }
      Log("switch to loader, reporting mode %d", reportedMode_);
      continue;
    }
    if (options_.once) {
      endpoint_.Close();
      if (!closeSeen_) {
        Log("session ended without close");
        return SIM_EXIT_NO_UPDATE;
      }
      Log("update complete: %lld image bytes", imageBytes_);
      return SIM_EXIT_UPDATED;
    }
  }
}

DeviceSim::Conn DeviceSim::Serve() {
  while (!hungUp_) {
    if (Expired()) return Conn::kExpired;
    const int got = endpoint_.ReceiveBlock(block_, static_cast<int>(sizeof block_), kReceiveWaitMs);
    if (got < 0) break;
    if (got > 0) decoder_.Feed(block_, got, *this);
  }
  return Conn::kEnded;
}

Step DeviceSim::Classify(const DeviceRequest& request) const {
  for (const StepEntry& entry : kSteps) {
    if (entry.kind != request.kind || entry.command != request.command) continue;
    if (entry.step == Step::kAppQuery && loaderPlays_) continue;
    if (entry.step == Step::kLoaderQuery && !loaderPlays_) continue;
    return entry.step;
  }
  return Step::kUnknown;
}

bool DeviceSim::Hits(const StepAt& at, Step step, int occurrence) const {
  return at.step == step && at.occurrence == occurrence;
}

void DeviceSim::FlushDataSummary() {
  if (dataFramesUnlogged_ == 0) return;
  Log("data: %lld frames, %lld image bytes so far", dataFrames_, imageBytes_);
  dataFramesUnlogged_ = 0;
}

void DeviceSim::EndDataPhase() {
  if (phaseFrames_ == 0) return;
  phaseBytesDone_ = phaseBytes_;
  phaseSecondsDone_ = std::chrono::duration<double>(phaseLast_ - phaseFirst_).count();
  Log("data phase: %lld frames, %lld image bytes, %.6f s from first to last frame", phaseFrames_,
      phaseBytes_, phaseSecondsDone_);
  phaseFrames_ = 0;
  phaseBytes_ = 0;
}

void DeviceSim::OnReject(FrameReject reason) {
  if (hungUp_) return;
  const char* why = reason == FrameReject::kBadEscape ? "bad escape"
                    : reason == FrameReject::kTooLong ? "too long"
                                                      : "cut short";
  Log("rejected frame: %s", why);
}

void DeviceSim::OnFrame(const uint8_t* content, int n) {
  if (hungUp_) return;
  const DeviceRequest request = ParseRequest(content, n);
  const Step step = Classify(request);
  const int occurrence = ++occurrences_[static_cast<int>(step)];
  if (step == Step::kData) {
    phaseLast_ = std::chrono::steady_clock::now();
    if (phaseFrames_++ == 0) phaseFirst_ = phaseLast_;
    phaseBytes_ += request.payloadLength;
    ++dataFrames_;
    if (options_.quiet) {
      ++dataFramesUnlogged_;
    } else {
      Log("data:%d len %d", occurrence, request.payloadLength + 1);
    }
  } else {
    FlushDataSummary();
    EndDataPhase();
    if (request.kind == RequestKind::kApp) {
      Log("%s:%d seq %d%s", StepName(step), occurrence, request.sequence,
          request.checkOk ? "" : " crc-bad");
    } else if (request.kind == RequestKind::kLoader) {
      Log("%s:%d len %d", StepName(step), occurrence, request.payloadLength + 1);
    } else {
      Log("unknown:%d content %d bytes", occurrence, n);
    }
  }
  if (Hits(options_.hangupAt, step, occurrence)) {
    Log("hang up");
    endpoint_.CloseData();
    hungUp_ = true;
    return;
  }
  if (Hits(options_.silentAt, step, occurrence)) {
    Log("silent from here on");
    silent_ = true;
  }
  const bool refused = Hits(options_.refuse, step, occurrence);
  if (refused) Log("refusing");
  Answer(step, request, refused);
}

void DeviceSim::Answer(Step step, const DeviceRequest& request, bool refused) {
  const uint8_t status = refused ? kStatusRefused : 0x00;
  const bool answers = !silent_;
  if (answers && options_.delayMs > 0 && step != Step::kData && step != Step::kUnknown) {
    Sleep(static_cast<unsigned long>(options_.delayMs));
  }
  uint8_t reply[DEVICE_REPLY_MAX];
  switch (step) {
    case Step::kAppQuery:
    case Step::kLoaderQuery: {
      Reply(reply, BuildAckReply(request.sequence, status, reply));
      if (refused) break;
      Reply(reply, BuildStatusReply(request.sequence, static_cast<uint8_t>(reportedMode_), reply));
      break;
    }
    case Step::kAppVersion:
      Reply(reply, BuildAckReply(request.sequence, status, reply));
      if (!refused) Reply(reply, BuildAppVersionReply(kAppVersionText, reply));
      break;
    case Step::kAppStart:
      Reply(reply, BuildAckReply(request.sequence, status, reply));
      if (!refused && answers) switchPending_ = true;
      break;
    case Step::kLoaderVersion:
      Reply(reply, BuildLoaderVersionReply(kLoaderVersionText, reply));
      break;
    case Step::kResetFlashdata:
      if (options_.imageOut != nullptr) ReopenImage();
      imageBytes_ = 0;
      dataFrames_ = 0;
      break;
    case Step::kData:
      WriteImage(request.payload, request.payloadLength);
      break;
    case Step::kStartFlash:
      statePolls_ = 0;
      break;
    case Step::kState:
      if (options_.badState && !badStateSent_) {
        badStateSent_ = true;
        Reply(kBadStateFrame, static_cast<int>(sizeof kBadStateFrame));
        break;
      }
      Reply(reply,
            BuildStateReply(statePolls_++ < options_.busy ? kStateBusy : kStateReady, reply));
      break;
    case Step::kReset:
      Reply(reply, BuildResetReply(status, reply));
      break;
    case Step::kClose:
      closeSeen_ = true;
      if (image_ != nullptr) std::fflush(image_);
      Log("close: %lld image bytes in %lld data frames", imageBytes_, dataFrames_);
      break;
    case Step::kSetOffset:
    case Step::kNone:
    case Step::kUnknown:
      break;
  }
}

void DeviceSim::Reply(const uint8_t* frame, int len) {
  if (silent_ || hungUp_ || len <= 0) return;
  if (!options_.fragment) {
    endpoint_.Send(frame, len);
    return;
  }
  // Pieces of 1 to 3 bytes, each sent on its own after a short pause so that
  // they arrive apart, behind a few stray bytes.
  pieceSeed_ = pieceSeed_ * 1103515245u + 12345u;
  endpoint_.Send(kStrayBytes, static_cast<int>(1 + (pieceSeed_ >> 16) % sizeof kStrayBytes));
  for (int at = 0; at < len;) {
    pieceSeed_ = pieceSeed_ * 1103515245u + 12345u;
    int piece = static_cast<int>(1 + (pieceSeed_ >> 16) % 3);
    if (piece > len - at) piece = len - at;
    Sleep(1);
    if (endpoint_.Send(frame + at, piece) != 0) return;
    at += piece;
  }
}

void DeviceSim::ReopenImage() {
  if (image_ != nullptr) std::fclose(image_);
  image_ = std::fopen(options_.imageOut, "wb");
  imageFailed_ = false;
  if (image_ != nullptr) std::setvbuf(image_, imageBuffer_, _IOFBF, sizeof imageBuffer_);
}

void DeviceSim::WriteImage(const uint8_t* data, int n) {
  imageBytes_ += n;
  if (image_ == nullptr || n <= 0 || imageFailed_) return;
  if (std::fwrite(data, 1, static_cast<size_t>(n), image_) != static_cast<size_t>(n)) {
    imageFailed_ = true;
    Log("image write failed");
  }
}

#include "sim/device_answers.h"

#include <cstring>

#include "protocol/app_commands.h"
#include "protocol/loader_commands.h"
#include "sim/sim_log.h"

namespace {

// How each step's command is recognised.
struct StepCommand {
  Step step;
  RequestKind kind;
  uint8_t command;
};

constexpr StepCommand kStepCommands[] = {
    {Step::kAppQuery, RequestKind::kApp, APP_QUERY_MODE},
    {Step::kAppVersion, RequestKind::kApp, APP_VERSION},
    {Step::kAppStart, RequestKind::kApp, APP_START_UPDATE},
    {Step::kLoaderQuery, RequestKind::kApp, APP_QUERY_MODE},
    {Step::kLoaderVersion, RequestKind::kLoader, LOADER_VERSION},
    {Step::kResetFlashdata, RequestKind::kLoader, LOADER_RESET_FLASHDATA},
    {Step::kData, RequestKind::kLoader, LOADER_DATA},
    {Step::kSetOffset, RequestKind::kLoader, LOADER_SET_OFFSET},
    {Step::kStartFlash, RequestKind::kLoader, LOADER_START_FLASH},
    {Step::kState, RequestKind::kLoader, LOADER_DEVICE_STATE},
    {Step::kReset, RequestKind::kLoader, LOADER_DEVICE_RESET},
    {Step::kClose, RequestKind::kLoader, LOADER_CLOSE},
};

constexpr char kAppVersionText[] = "SIM01";
static_assert(sizeof kAppVersionText == APP_VERSION_CHARS + 1, "one version reply's worth");
constexpr uint8_t kStatusRefused = 0x01;
constexpr uint8_t kStateBusy = 0x01;
constexpr uint8_t kStateReady = 0x00;
// A state reply whose escape code 0x03 no receiver may accept.
constexpr uint8_t kBadStateFrame[] = {FRAME_START,  0x00, 0x02,     LOADER_DEVICE_STATE,
                                      FRAME_ESCAPE, 0x03, FRAME_END};

}  // namespace

DeviceAnswers::DeviceAnswers(const SimOptions& options, ImageRecord& image)
    : options_(options),
      image_(image),
      loaderPlays_(options.mode > MODE_APPLICATION),
      reportedMode_(options.mode) {
  std::memcpy(appVersion_, kAppVersionText, APP_VERSION_CHARS);
}

Step DeviceAnswers::Classify(const DeviceRequest& request) const {
  for (const StepCommand& entry : kStepCommands) {
    if (entry.kind != request.kind || entry.command != request.command) continue;
    if (entry.step == Step::kAppQuery && loaderPlays_) continue;
    if (entry.step == Step::kLoaderQuery && !loaderPlays_) continue;
    return entry.step;
  }
  return Step::kUnknown;
}

bool DeviceAnswers::TakeSwitch() {
  const bool due = switchPending_;
  switchPending_ = false;
  return due;
}

int DeviceAnswers::StartLoader() {
  loaderPlays_ = true;
  reportedMode_ = options_.stayApp ? MODE_APPLICATION : MODE_UPDATELOADER;
  return reportedMode_;
}

bool DeviceAnswers::TakeClose() {
  const bool due = closePending_;
  closePending_ = false;
  return due;
}

int DeviceAnswers::Restart(bool intoLoader) {
  loaderPlays_ = intoLoader;
  reportedMode_ = intoLoader ? MODE_UPDATELOADER : MODE_APPLICATION;
  switchPending_ = false;
  if (options_.newVersion != nullptr) {
    // Shorter texts are padded: the reply always carries the full count.
    const size_t n = strnlen(options_.newVersion, APP_VERSION_CHARS);
    std::memset(appVersion_, ' ', APP_VERSION_CHARS);
    std::memcpy(appVersion_, options_.newVersion, n);
  }
  return reportedMode_;
}

void DeviceAnswers::Answer(Step step, const DeviceRequest& request, bool refused, bool answers,
                           ReplySink& out) {
  const uint8_t status = refused ? kStatusRefused : 0x00;
  uint8_t reply[DEVICE_REPLY_MAX];
  int len = 0;
  // First (or only) reply, then what follows an acknowledgement.
  int followLen = 0;
  uint8_t follow[DEVICE_REPLY_MAX];
  switch (step) {
    case Step::kAppQuery:
    case Step::kLoaderQuery:
      len = BuildAckReply(request.sequence, status, reply);
      if (!refused) {
        followLen = BuildStatusReply(request.sequence, static_cast<uint8_t>(reportedMode_), follow);
      }
      break;
    case Step::kAppVersion:
      len = BuildAckReply(request.sequence, status, reply);
      if (!refused) followLen = BuildAppVersionReply(appVersion_, follow);
      break;
    case Step::kAppStart:
      len = BuildAckReply(request.sequence, status, reply);
      if (!refused && answers) switchPending_ = true;
      break;
    case Step::kLoaderVersion:
      len = BuildLoaderVersionReply(reinterpret_cast<const uint8_t*>(options_.loaderVersion),
                                    options_.loaderVersionLength, reply);
      break;
    case Step::kResetFlashdata:
      image_.Restart();
      break;
    case Step::kData:
      image_.Write(request.payload, request.payloadLength);
      break;
    case Step::kStartFlash:
      // What is flashed is on disk now, even if a fault later keeps the
      // board from ending in order.
      image_.Flush();
      statePolls_ = 0;
      // Programming time grows with the image, as on a real part.
      flashDone_ = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(static_cast<long long>(options_.flashMsPerMb) *
                                             image_.bytes() / (1 << 20));
      break;
    case Step::kState:
      if (options_.badState && !badStateSent_) {
        badStateSent_ = true;
        if (answers) out.Reply(kBadStateFrame, static_cast<int>(sizeof kBadStateFrame));
        return;
      }
      len = BuildStateReply(options_.busyForever || statePolls_++ < options_.busy ||
                                    std::chrono::steady_clock::now() < flashDone_
                                ? kStateBusy
                                : kStateReady,
                            reply);
      break;
    case Step::kReset:
      len = BuildResetReply(status, reply);
      break;
    case Step::kClose:
      closeSeen_ = true;
      closePending_ = true;
      image_.Flush();
      SimLog(options_.log, "close: %lld image bytes in %lld data frames", image_.bytes(),
             image_.frames());
      break;
    case Step::kSetOffset:
    case Step::kNone:
    case Step::kUnknown:
      break;
  }
  // A board whose loader acknowledges everything, even each data frame, in
  // the form of its reset acknowledgement.
  if (len == 0 && options_.ackEverything && loaderPlays_ && step != Step::kUnknown) {
    len = BuildResetReply(0x00, reply);
  }
  if (!answers) return;
  if (len > 0) out.Reply(reply, len);
  if (followLen > 0) out.Reply(follow, followLen);
}

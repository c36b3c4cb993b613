#include "driver/update_run.h"

#include <cstring>

#include "driver/board_check.h"
#include "driver/file_stamp.h"
#include "driver/progress.h"
#include "driver/sha256.h"
#include "net/tcp_endpoint.h"
#include "protocol/app_commands.h"
#include "protocol/loader_commands.h"

namespace {

// Carries the transfer's advance to the progress display and the events,
// and holds back the frame that would end the image unless the file is still
// the one that was opened and, when a hash is expected, what went out has it.
class TransferWatch final : public TransferObserver {
 public:
  TransferWatch(Progress& progress, RunObserver& events, long long total,
                const UpdateChecks& checks, FILE* image)
      : progress_(progress), events_(events), total_(total), checks_(checks), image_(image) {}
  void TransferAdvanced(long long sent) override {
    sent_ = sent;
    progress_.Update(sent);
    events_.TransferAdvanced(sent, total_, false);
  }
  void TransferWillPrint() override { progress_.Erase(); }
  bool ApproveFrame(const uint8_t* block, int n, bool last) override {
    if (checks_.expectedSha256 != nullptr) sha_.Update(block, static_cast<size_t>(n));
    if (!last) return true;
    if (checks_.openedStamp != nullptr) {
      // A file rewritten in place keeps its size but not its times.
      FileStamp now;
      if (ReadFileStamp(image_, &now) != 0 || !SameStamp(now, *checks_.openedStamp)) return false;
    }
    if (checks_.expectedSha256 != nullptr) {
      uint8_t digest[SHA256_DIGEST_SIZE];
      sha_.Finish(digest);
      return std::memcmp(digest, checks_.expectedSha256, SHA256_DIGEST_SIZE) == 0;
    }
    return true;
  }
  long long sent() const { return sent_; }

 private:
  Progress& progress_;
  RunObserver& events_;
  long long total_;
  const UpdateChecks& checks_;
  FILE* image_;
  Sha256 sha_;
  long long sent_ = 0;
};

// Sleeps SWITCH_WAIT_MS while the display counts the seconds down.
void WaitForLoader(Progress& progress) {
  if (!progress.Enabled()) {
    Sleep(SWITCH_WAIT_MS);
    return;
  }
  for (int left = SWITCH_WAIT_MS; left > 0; left -= 1000) {
    char text[PROGRESS_TEXT_MAX + 1];
    std::snprintf(text, sizeof text, "waiting for the update loader: %d s", (left + 999) / 1000);
    progress.Show(text);
    Sleep(static_cast<unsigned long>(left < 1000 ? left : 1000));
  }
  progress.Erase();
}

// The attempt number stands behind "Loop " while Connect blocks. A failed
// Connect prints its message at once, over it, without the display knowing:
// so it is never wider than the shortest such message ("s err"), and that
// message covers it whole.
constexpr int ATTEMPT_TEXT_MAX = 5;
static_assert(RECONNECT_MAX_ATTEMPTS < 100, "\"10/10\" is the widest attempt text");

// Closes the application connection and connects to the update loader that
// the device starts in its place. Returns the number of the attempt that
// connected, or -1 after "Timeout\r\n".
int ReconnectToLoader(TcpEndpoint& endpoint, Progress& progress) {
  endpoint.Close();
  WaitForLoader(progress);
  std::printf("Connecting to Updateloader...");
  for (int pass = 1;; ++pass) {
    Sleep(RECONNECT_PAUSE_MS);
    std::printf("Loop ");
    if (pass > RECONNECT_MAX_ATTEMPTS) {
      std::printf("Timeout\r\n");
      return -1;
    }
    char attempt[ATTEMPT_TEXT_MAX + 1];
    std::snprintf(attempt, sizeof attempt, "%d/%d", pass, RECONNECT_MAX_ATTEMPTS);
    progress.Show(attempt);
    const int connected = endpoint.Connect();
    progress.Erase();
    if (connected == 0) return pass;
  }
}

// Sends one fixed loader command, prints "<what> ok\n" or "<what> err\n"
// and reports the step. Returns true when it was sent.
bool SendReported(TcpEndpoint& endpoint, uint8_t command, RunStep step, const char* what,
                  RunObserver& events) {
  const bool sent = SendLoaderCommand(endpoint, command) == 0;
  std::printf("%s %s\n", what, sent ? "ok" : "err");
  events.StepSent(step, sent);
  return sent;
}

// The orderly end up to the release of the sockets library: prints message,
// pauses CLOSE_PAUSE_MS and closes the endpoint.
void CloseOrderly(TcpEndpoint& endpoint, const char* message) {
  std::printf("%s", message);
  Sleep(CLOSE_PAUSE_MS);
  endpoint.Close();
}

// Ends a run that failed after the first connection: prints message,
// closes the endpoint, releases the sockets library and returns -1 with the
// failure set.
int Abandon(TcpEndpoint& endpoint, RunResult* result, RunFailure why, const char* message) {
  result->failure = why;
  std::printf("%s", message);
  endpoint.Close();
  WSACleanup();
  return -1;
}

}  // namespace

int OrderlyEnd(TcpEndpoint& endpoint, const char* message, int status) {
  CloseOrderly(endpoint, message);
  WSACleanup();
  return status;
}

int RunUpdate(TcpEndpoint& endpoint, FILE* image, long long imageSize, const UpdateChecks& checks,
              Progress& progress, RunObserver& events, RunResult* result) {
  const auto abandon = [&](RunFailure why, const char* message) {
    return Abandon(endpoint, result, why, message);
  };
  int mode = QueryDeviceMode(endpoint);
  events.ModeReported(mode > 0 ? mode : 0);
  if (mode < 1) return abandon(RunFailure::kNoDevice, "No Device found\r\n");
  std::printf("Device found %d\r\n", mode);

  VersionText version;
  if (mode == MODE_APPLICATION) {
    events.PhaseBegan(RunPhase::kSwitching);
    if (RequestAppVersion(endpoint, &version) == 0) {
      events.VersionReported(VersionOf::kApplication, version.bytes, version.length);
      if (checks.skipCurrent && checks.expectVersion != nullptr &&
          VersionIs(version, checks.expectVersion)) {
        result->skipped = true;
        std::printf("Board already runs version ");
        PrintVersion(version);
        return OrderlyEnd(endpoint, ": no update\r\n", 0);
      }
    }
    std::printf("Starte Update...");
    // A refused switch leaves the loader steps to run on this connection.
    if (StartUpdateMode(endpoint) >= 0) {
      std::printf("ok\r\n");
      // The one early end without Close and WSACleanup: the application's
      // connection was closed before the first attempt and every failed
      // attempt closed its own socket, so no socket is left; the process
      // ends right after, which releases the sockets library.
      const int attempt = ReconnectToLoader(endpoint, progress);
      if (attempt < 0) {
        result->failure = RunFailure::kLoaderUnreachable;
        return -1;
      }
      events.Connected(attempt);
      mode = QueryDeviceMode(endpoint);
      events.ModeReported(mode > 0 ? mode : 0);
      if (mode != MODE_UPDATELOADER) {
        return abandon(RunFailure::kNotLoader, "Error starting Updateloader\r\n");
      }
      std::printf("Device found %d\r\n", mode);
    }
  }

  events.PhaseBegan(RunPhase::kLoader);
  if (RequestLoaderVersion(endpoint, &version) < 0) {
    std::printf("Version request error!\r\n");
  } else {
    events.VersionReported(VersionOf::kLoader, version.bytes, version.length);
  }
  // Exit status 0 promises a flashed board, so every step that flashing
  // needs must have gone out; the others are only reported.
  bool flashOrdered = SendReported(endpoint, LOADER_RESET_FLASHDATA, RunStep::kResetFlashdata,
                                   "\r\nReset Flashdata", events);
  events.PhaseBegan(RunPhase::kSending);
  std::printf("Transfering image..");
  TransferWatch watch(progress, events, imageSize, checks, image);
  progress.Start(imageSize);
  events.TransferAdvanced(0, imageSize, false);
  const int sent = TransferImage(endpoint, image, imageSize, &watch);
  progress.Erase();
  events.TransferAdvanced(watch.sent(), imageSize, true);
  if (sent < 0) {
    const RunFailure why = sent == TRANSFER_CHANGED      ? RunFailure::kImageChanged
                           : sent == TRANSFER_UNREADABLE ? RunFailure::kImageUnreadable
                                                         : RunFailure::kWrite;
    return abandon(why, "Write err\n");
  }
  std::printf("ok\n");
  events.PhaseBegan(RunPhase::kFlashing);
  flashOrdered &=
      SendReported(endpoint, LOADER_SET_OFFSET, RunStep::kSetOffset, "Setting Offset", events);
  flashOrdered &=
      SendReported(endpoint, LOADER_START_FLASH, RunStep::kStartFlash, "Starting Flash", events);
  const int readyLimitMs = checks.readyTimeoutS * 1000;
  const int ready = WaitUntilReady(endpoint, READY_SILENCE_LIMIT_MS, readyLimitMs);
  if (ready != 0) {
    char message[64];
    if (ready == READY_NEVER) {
      std::snprintf(message, sizeof message, "\r\nDevice not ready after %d s: giving up\r\n",
                    checks.readyTimeoutS);
    } else {
      std::snprintf(message, sizeof message, "\r\nNo device state for %d s: giving up\r\n",
                    READY_SILENCE_LIMIT_MS / 1000);
    }
    return abandon(ready == READY_NEVER ? RunFailure::kNotReady : RunFailure::kNoState, message);
  }
  events.PhaseBegan(RunPhase::kResetting);
  std::printf("\r\nDev reset\r\n");
  events.StepSent(RunStep::kReset, ResetDevice(endpoint) == 0);
  events.PhaseBegan(RunPhase::kClosing);
  const bool closeSent = SendLoaderCommand(endpoint, LOADER_CLOSE) == 0;
  events.StepSent(RunStep::kClose, closeSent);
  if (!flashOrdered) result->failure = RunFailure::kNotOrdered;
  if (!flashOrdered || !checks.verify) {
    return OrderlyEnd(endpoint, closeSent ? "Close ok\n" : "Close err\n", flashOrdered ? 0 : -1);
  }
  // The orderly end, with the boot check before the release of the sockets
  // library.
  CloseOrderly(endpoint, closeSent ? "Close ok\n" : "Close err\n");
  events.PhaseBegan(RunPhase::kVerifying);
  RunningFirmware after;
  const int status = CheckBoot(endpoint, checks.bootTimeoutS, checks.expectVersion, events, &after,
                               &result->failure);
  if (after.mode == MODE_APPLICATION && after.hasVersion) {
    result->hasVersionAfter = true;
    result->versionAfter = after.version;
  }
  WSACleanup();
  return status;
}

int RunInfo(TcpEndpoint& endpoint, RunObserver& events, RunResult* result) {
  RunningFirmware firmware;
  const int mode = ReadRunningFirmware(endpoint, events, &firmware);
  if (mode < 1) return Abandon(endpoint, result, RunFailure::kNoDevice, "No Device found\r\n");
  std::printf("Board runs its %s", mode == MODE_APPLICATION ? "application" : "update loader");
  if (firmware.hasVersion) {
    std::printf(", version ");
    PrintVersion(firmware.version);
    return OrderlyEnd(endpoint, "\r\n", 0);
  }
  return OrderlyEnd(endpoint, "; its version could not be read\r\n", 0);
}

#include "driver/update_run.h"

#include "driver/progress.h"
#include "net/tcp_endpoint.h"
#include "protocol/app_commands.h"
#include "protocol/loader_commands.h"

namespace {

// Ends a run that failed after the first connection.
int Abandon(TcpEndpoint& endpoint, const char* message) {
  std::printf("%s", message);
  endpoint.Close();
  WSACleanup();
  return -1;
}

// Carries the transfer's advance to the progress display.
class TransferProgress final : public TransferObserver {
 public:
  explicit TransferProgress(Progress& progress) : progress_(progress) {}
  void TransferAdvanced(long long sent) override { progress_.Update(sent); }
  void TransferWillPrint() override { progress_.Erase(); }

 private:
  Progress& progress_;
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
// the device starts in its place. Returns 0 connected, -1 after "Timeout\r\n".
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
    if (connected == 0) return 0;
  }
}

// Sends one fixed loader command and prints "<what> ok\n" or "<what> err\n".
// Returns true when it was sent.
bool SendReported(TcpEndpoint& endpoint, uint8_t command, const char* what) {
  const bool sent = SendLoaderCommand(endpoint, command) == 0;
  std::printf("%s %s\n", what, sent ? "ok" : "err");
  return sent;
}

}  // namespace

int OrderlyEnd(TcpEndpoint& endpoint, const char* message, int status) {
  std::printf("%s", message);
  Sleep(CLOSE_PAUSE_MS);
  endpoint.Close();
  WSACleanup();
  return status;
}

int RunUpdate(TcpEndpoint& endpoint, FILE* image, long long imageSize, Progress* progress) {
  Progress silent(nullptr, false);
  Progress& shown = progress != nullptr ? *progress : silent;
  int mode = QueryDeviceMode(endpoint);
  if (mode < 1) return Abandon(endpoint, "No Device found\r\n");
  std::printf("Device found %d\r\n", mode);

  if (mode == MODE_APPLICATION) {
    RequestAppVersion(endpoint);
    std::printf("Starte Update...");
    // A refused switch leaves the loader steps to run on this connection.
    if (StartUpdateMode(endpoint) >= 0) {
      std::printf("ok\r\n");
      // The one early end without Close and WSACleanup: the application's
      // connection was closed before the first attempt and every failed
      // attempt closed its own socket, so no socket is left; the process
      // ends right after, which releases the sockets library.
      if (ReconnectToLoader(endpoint, shown) != 0) return -1;
      mode = QueryDeviceMode(endpoint);
      if (mode != MODE_UPDATELOADER) return Abandon(endpoint, "Error starting Updateloader\r\n");
      std::printf("Device found %d\r\n", mode);
    }
  }

  if (RequestLoaderVersion(endpoint) < 0) std::printf("Version request error!\r\n");
  // Exit status 0 promises a flashed board, so every step that flashing
  // needs must have gone out; the others are only reported.
  bool flashOrdered = SendReported(endpoint, LOADER_RESET_FLASHDATA, "\r\nReset Flashdata");
  std::printf("Transfering image..");
  TransferProgress observer(shown);
  shown.Start(imageSize);
  const int sent = TransferImage(endpoint, image, imageSize, shown.Enabled() ? &observer : nullptr);
  shown.Erase();
  if (sent < 0) return Abandon(endpoint, "Write err\n");
  std::printf("ok\n");
  flashOrdered &= SendReported(endpoint, LOADER_SET_OFFSET, "Setting Offset");
  flashOrdered &= SendReported(endpoint, LOADER_START_FLASH, "Starting Flash");
  if (WaitUntilReady(endpoint) != 0) {
    char message[64];
    std::snprintf(message, sizeof message, "\r\nNo device state for %d s: giving up\r\n",
                  READY_SILENCE_LIMIT_MS / 1000);
    return Abandon(endpoint, message);
  }
  std::printf("\r\nDev reset\r\n");
  ResetDevice(endpoint);
  const bool closeSent = SendLoaderCommand(endpoint, LOADER_CLOSE) == 0;
  return OrderlyEnd(endpoint, closeSent ? "Close ok\n" : "Close err\n", flashOrdered ? 0 : -1);
}

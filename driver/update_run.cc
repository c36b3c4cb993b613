#include "driver/update_run.h"

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

// Closes the application connection and connects to the update loader that
// the device starts in its place. Returns 0 connected, -1 after "Timeout\r\n".
int ReconnectToLoader(TcpEndpoint& endpoint) {
  endpoint.Close();
  Sleep(SWITCH_WAIT_MS);
  std::printf("Connecting to Updateloader...");
  for (int pass = 1;; ++pass) {
    Sleep(RECONNECT_PAUSE_MS);
    std::printf("Loop ");
    if (pass > RECONNECT_MAX_ATTEMPTS) {
      std::printf("Timeout\r\n");
      return -1;
    }
    if (endpoint.Connect() == 0) return 0;
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

int RunUpdate(TcpEndpoint& endpoint, FILE* image, long long imageSize) {
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
      if (ReconnectToLoader(endpoint) != 0) return -1;
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
  if (TransferImage(endpoint, image, imageSize) < 0) return Abandon(endpoint, "Write err\n");
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

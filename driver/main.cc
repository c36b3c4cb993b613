#include <cstdio>

#include "driver/flash_update.h"
#include "net/socket_layer.h"

int main(int argc, char** argv) {
  // Started with a standard stream closed, the first socket would take its
  // descriptor and the console transcript would go to the device. Without
  // even /dev/null to put there, attempt nothing.
  if (ReserveStandardStreams() < 0) return 1;
  // Operators follow the progress live, often through "| tee flash.log".
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return RunFlashUpdate(argc, argv, stdin);
}

#include <cstdio>

#include "driver/flash_update.h"

int main(int argc, char** argv) {
  // Operators follow the progress live, often through "| tee flash.log".
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return RunFlashUpdate(argc, argv, stdin);
}

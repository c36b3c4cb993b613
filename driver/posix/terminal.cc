// The console check on POSIX (the contract: driver/terminal.h): isatty.
#include "driver/terminal.h"

#include <unistd.h>

bool IsTerminal(FILE* stream) {
  const int descriptor = fileno(stream);
  return descriptor >= 0 && isatty(descriptor) == 1;
}

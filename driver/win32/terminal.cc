// The console check on Windows (the contract: driver/terminal.h):
// GetConsoleMode.
#include "driver/terminal.h"

#include <io.h>
#include <windows.h>

// _isatty also holds for the null device and serial ports; only a console
// has a console mode.
bool IsTerminal(FILE* stream) {
  const int descriptor = _fileno(stream);
  if (descriptor < 0) return false;
  const intptr_t handle = _get_osfhandle(descriptor);
  if (handle == -1) return false;
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;
}

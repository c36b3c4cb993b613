#include "sim/sim_log.h"

#include <cstdarg>

void SimLog(FILE* log, const char* format, ...) {
  if (log == nullptr) return;
  char line[200];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(log, "sim: %s\n", line);
  std::fflush(log);
}

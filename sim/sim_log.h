// The simulator's log: one line per event, "sim: <text>", on stderr unless
// the options send it elsewhere (or nowhere).
#ifndef TCPFLASH_SIM_SIM_LOG_H_
#define TCPFLASH_SIM_SIM_LOG_H_

#include <cstdio>

#if defined(__GNUC__)
#define SIM_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define SIM_PRINTF_FORMAT(f, a)
#endif

// Writes "sim: " and the formatted text (cut at 200 characters) and a line
// break to log, and flushes it, so that a test reading the log sees each
// event as it happens. Does nothing when log is null.
void SimLog(FILE* log, const char* format, ...) SIM_PRINTF_FORMAT(2, 3);

#endif  // TCPFLASH_SIM_SIM_LOG_H_

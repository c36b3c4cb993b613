// Whether a stream reaches an operator's screen: the one question about the
// console that differs between the platforms. One file per platform
// implements it (driver/posix/terminal.cc, driver/win32/terminal.cc); CMake
// picks the one.
#ifndef TCPFLASH_DRIVER_TERMINAL_H_
#define TCPFLASH_DRIVER_TERMINAL_H_

#include <cstdio>

// True when stream writes to a terminal (a console on Windows); false for
// files, pipes, the null device and streams without a descriptor.
bool IsTerminal(FILE* stream);

#endif  // TCPFLASH_DRIVER_TERMINAL_H_

// The program's main routine.
#ifndef TCPFLASH_DRIVER_FLASH_UPDATE_H_
#define TCPFLASH_DRIVER_FLASH_UPDATE_H_

#include <cstdio>

// Runs the utility with the command line argv[0,argc), reading the prompt's
// answers from input. Returns the process exit status: 0 flashed (or help,
// version or the board's firmware shown, or the update skipped), 1 nothing
// done (bad usage, bad address, no input, no image file or not the expected
// one, no sockets library, no connection), 2 flashed but the board does not
// run what was asked, -1 the update run failed.
int RunFlashUpdate(int argc, char** argv, FILE* input);

#endif  // TCPFLASH_DRIVER_FLASH_UPDATE_H_

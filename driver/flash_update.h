// The program's main routine.
#ifndef TCPFLASH_DRIVER_FLASH_UPDATE_H_
#define TCPFLASH_DRIVER_FLASH_UPDATE_H_

#include <cstdio>

// Runs the utility with the command line argv[0,argc), reading the prompt's
// answers from input. Returns the process exit status: 0 flashed (or help or
// version shown), 1 nothing done (bad usage, bad address, no input, no image
// file, no sockets library, no connection), -1 the update run failed.
int RunFlashUpdate(int argc, char** argv, FILE* input);

#endif  // TCPFLASH_DRIVER_FLASH_UPDATE_H_

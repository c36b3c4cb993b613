// The simulator's command line.
#ifndef TCPFLASH_SIM_SIM_ARGS_H_
#define TCPFLASH_SIM_SIM_ARGS_H_

#include <cstdio>

#include "sim/sim_options.h"

// Fills *options from argv[1,argc). Returns 0, 1 when --help was asked for,
// or -1 after printing the reason to stderr.
int ParseSimArgs(int argc, const char* const* argv, SimOptions* options);

// Prints the usage text to out.
void PrintSimUsage(FILE* out);

#endif  // TCPFLASH_SIM_SIM_ARGS_H_

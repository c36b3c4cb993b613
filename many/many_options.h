// Command line of tcpflash-many.
#ifndef TCPFLASH_MANY_MANY_OPTIONS_H_
#define TCPFLASH_MANY_MANY_OPTIONS_H_

#include <cstdio>

#include "many/board_list.h"

// Bad usage: nothing was started.
constexpr int MANY_EXIT_USAGE = 2;
// A generous bound on one board's whole run: tcpflash bounds each of its
// waits itself, so this only catches what nothing else catches.
constexpr int DEFAULT_BOARD_TIMEOUT_S = 600;
constexpr int MAX_BOARD_TIMEOUT_S = 86400;

struct ManyOptions {
  const char* imagePath = "image.uncompressed";
  int jobs = 0;  // 0: every board at once
  const char* logDir = nullptr;
  const char* reportPath = nullptr;
  const char* boardsFile = nullptr;
  int boardTimeoutS = DEFAULT_BOARD_TIMEOUT_S;
  bool help = false;
  bool version = false;
  // The ADDRESS[:PORT] arguments in order, not yet parsed.
  const char* boards[MAX_BOARDS] = {};
  int boardCount = 0;
};

// Sorts argv[1,argc) into options and board arguments. Options may stand
// anywhere; "--" makes every later argument a board. Returns 0, or
// MANY_EXIT_USAGE after a message and the usage line on err for an unknown
// option, a missing or bad value, an option given twice or more than
// MAX_BOARDS board arguments.
int ParseManyOptions(int argc, char** argv, ManyOptions* options, FILE* err);

// Prints the usage text to out.
void PrintManyUsage(FILE* out);

#endif  // TCPFLASH_MANY_MANY_OPTIONS_H_

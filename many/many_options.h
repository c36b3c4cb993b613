// Command line of tcpflash-many.
#ifndef TCPFLASH_MANY_MANY_OPTIONS_H_
#define TCPFLASH_MANY_MANY_OPTIONS_H_

#include <cstdio>

#include "driver/tool_options.h"
#include "many/board_list.h"

// Bad usage: nothing was started.
constexpr int MANY_EXIT_USAGE = 2;
// Longest time limit taken: the board time-out and the bounds handed to
// each tcpflash, which takes no more.
constexpr int MAX_TIMEOUT_S = TIME_OPTION_MAX_S;

// The options handed to each tcpflash as they are; 0 and null: not given.
struct ProofOptions {
  bool verify = false;
  int bootTimeoutS = 0;
  const char* expectVersion = nullptr;
  bool skipCurrent = false;
  int readyTimeoutS = 0;
};

struct ManyOptions {
  const char* imagePath = "image.uncompressed";
  int jobs = 0;  // 0: every board at once
  const char* logDir = nullptr;
  const char* reportPath = nullptr;
  const char* boardsFile = nullptr;
  // None unless given: tcpflash bounds each of its waits itself, and a large
  // image over a slow link may rightly take longer than any fixed figure.
  int boardTimeoutS = 0;
  ProofOptions proof;
  // Ask each board what it runs (tcpflash --info) instead of flashing it.
  bool info = false;
  bool help = false;
  bool version = false;
  // The ADDRESS[:PORT] arguments in order, not yet parsed.
  const char* boards[MAX_BOARDS] = {};
  int boardCount = 0;
};

// Sorts argv[1,argc) into options and board arguments. Options may stand
// anywhere; "--" makes every later argument a board. Returns 0, or
// MANY_EXIT_USAGE after a message and the usage line on err for an unknown
// option, a missing or bad value, an option given twice, more than
// MAX_BOARDS board arguments, an --expect-version longer than a board's
// version, --skip-current without --expect-version, or --info with --image
// or an option of the update.
int ParseManyOptions(int argc, char** argv, ManyOptions* options, FILE* err);

// Prints the usage text to out.
void PrintManyUsage(FILE* out);

#endif  // TCPFLASH_MANY_MANY_OPTIONS_H_

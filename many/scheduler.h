// Runs one tcpflash process per board, a limited number at a time.
#ifndef TCPFLASH_MANY_SCHEDULER_H_
#define TCPFLASH_MANY_SCHEDULER_H_

#include "many/board_state.h"
#include "many/live_view.h"
#include "many/many_options.h"

struct RunSettings {
  const char* toolPath = "";     // the tcpflash executable
  const char* imagePath = "";    // handed to each tcpflash as --image
  const char* imageSha256 = "";  // and its hash as --expect-sha256
  const char* logDir = "";       // where the board logs go
  int jobs = 1;                  // boards at a time, at least 1
  int boardTimeoutS = 0;         // a board's tcpflash is stopped after this; 0: never
  ProofOptions proof;            // handed to each tcpflash
  // Each tcpflash runs with --info (and no image) instead of flashing.
  bool info = false;
};

// Flashes boards[0,count) (each set up by InitBoardState) in order, starting
// a board's tcpflash whenever fewer than settings.jobs run, and keeps
// boards[] and view up to date. Each board's tcpflash runs with "--events -":
// its standard output goes unchanged to "<logDir>/<address>_<port>.log" as
// it arrives, the event lines of its standard error to
// "<address>_<port>.events.jsonl" (and into boards[]), any other text there
// to "<address>_<port>.stderr.log". After the first stop request no
// board is started any more; after the second the running ones are stopped.
// On return every board has its ending and verdict. Returns true when the
// run was stopped by request.
bool RunBoards(const RunSettings& settings, BoardState* boards, int count, LiveView* view);

#endif  // TCPFLASH_MANY_SCHEDULER_H_

// The end of a run: the table on the console and the JSON report.
#ifndef TCPFLASH_MANY_REPORT_H_
#define TCPFLASH_MANY_REPORT_H_

#include <cstdio>
#include <ctime>

#include "driver/sha256.h"
#include "many/board_state.h"

// "YYYY-MM-DDTHH:MM:SSZ" and the terminating zero.
constexpr int UTC_TIME_SIZE = 21;
// "<address>_<port>" and a suffix such as ".stderr.log", zero-terminated.
constexpr int LOG_NAME_SIZE = 48;

struct RunFacts {
  const char* imagePath = "";  // null when no image was flashed (--info)
  long long imageSize = 0;
  char imageSha256[SHA256_HEX_SIZE] = "";
  std::time_t started = 0;
  std::time_t ended = 0;
  int jobs = 0;
  int boardTimeoutS = 0;  // 0: none
  const char* logDir = "";
  bool interrupted = false;  // the operator stopped the run
  bool verify = false;       // each board's tcpflash checked that the board came back
};

struct RunCounts {
  int flashed = 0;
  int skipped = 0;   // left as they were by --skip-current
  int answered = 0;  // asked only (--info)
  int failed = 0;    // started (or tried) and not succeeded
  int notStarted = 0;
  int succeeded() const { return flashed + skipped + answered; }
};

// Counts boards[0,count) by outcome.
RunCounts CountOutcomes(const BoardState* boards, int count);

// The run's exit status: 0 when every board of boards[0,count) succeeded
// (flashed, skipped or answered) and every record of them was written
// whole, else 1.
int RunExitStatus(const BoardState* boards, int count);

// The files a run keeps of each board in its log folder, by the suffix of
// their names: the console output, the event lines, the other text of the
// error stream. Whatever is written to them and whatever must never overlap
// them goes by this list.
enum BoardRecord { RECORD_LOG, RECORD_EVENTS, RECORD_STDERR_LOG, BOARD_RECORD_KINDS };
constexpr const char* BOARD_RECORD_SUFFIXES[BOARD_RECORD_KINDS] = {".log", ".events.jsonl",
                                                                   ".stderr.log"};

// Writes the board's log file name, "<address>_<port><suffix>" (no colon:
// Windows forbids it in file names), to name[0,LOG_NAME_SIZE).
void BoardLogName(const Board& board, const char* suffix, char* name);

// Writes time as UTC "YYYY-MM-DDTHH:MM:SSZ" to text[0,UTC_TIME_SIZE).
void FormatUtcTime(std::time_t time, char* text);

// Prints the table of boards[0,count) (board, exit status, verdict, time;
// with mode and version too when the boards were only asked) and a line of
// counts to out.
void PrintResultTable(FILE* out, const BoardState* boards, int count);

// Writes the JSON report of the run to out. Returns 0, or -1 when writing
// failed.
int WriteJsonReport(FILE* out, const RunFacts& facts, const BoardState* boards, int count);

#endif  // TCPFLASH_MANY_REPORT_H_

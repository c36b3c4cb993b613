// What tcpflash-many knows about one board while it runs and after: the
// phase read from tcpflash's console transcript, how its process ended and
// the verdict.
#ifndef TCPFLASH_MANY_BOARD_STATE_H_
#define TCPFLASH_MANY_BOARD_STATE_H_

#include "many/board_list.h"

// In the order a run passes through them.
enum class Phase {
  kWaiting,     // not started yet
  kConnecting,  // tcpflash started, first connection not made yet
  kConnected,   // "s init ok": asking the board's mode
  kSwitching,   // application told to start the update loader, reconnecting
  kPreparing,   // loader version, clearing the flash data
  kSending,     // image transfer
  kFlashing,    // offset, start of flashing, waiting until ready
  kResetting,   // board reset
  kClosing,     // loader's close command
};

// How the board's tcpflash ended.
enum class Ending {
  kNone,         // still waiting or running
  kNotStarted,   // never started: the run was stopped first
  kStartFailed,  // its log or its process could not be made
  kExited,       // ended by itself with exitStatus
  kAbnormal,     // ended by a signal (POSIX) or an abnormal exit code (Windows)
  kTimedOut,     // stopped after the board time-out
  kStopped,      // stopped on the operator's second interrupt
};

// Failures that tcpflash's transcript names, as bits of BoardState::failures.
enum FailureMark : unsigned {
  FAIL_IMAGE = 1u << 0,        // "Cannot open "
  FAIL_SOCKETS = 1u << 1,      // "dll err"
  FAIL_CONNECT = 1u << 2,      // "s error!"
  FAIL_NO_DEVICE = 1u << 3,    // "No Device found"
  FAIL_LOADER_GONE = 1u << 4,  // "Loop Timeout"
  FAIL_LOADER_MODE = 1u << 5,  // "Error starting Updateloader"
  FAIL_WRITE = 1u << 6,        // "Write err"
  FAIL_NO_STATE = 1u << 7,     // "No device state for"
  FAIL_STEP = 1u << 8,         // "Reset Flashdata err" and the like
};

constexpr int TRANSCRIPT_TAIL_SIZE = 48;
constexpr int PROGRESS_SEGMENT_SIZE = 16;
constexpr int VERDICT_SIZE = 112;

struct BoardState {
  Board board;
  char name[BOARD_NAME_SIZE] = "";
  Phase phase = Phase::kWaiting;
  int percent = -1;  // image sent so far, when tcpflash reports it
  unsigned failures = 0;
  Ending ending = Ending::kNone;
  int exitStatus = -1;             // with kExited
  unsigned long abnormalCode = 0;  // with kAbnormal
  double startS = 0;               // seconds since the run began
  double endS = 0;
  bool logCreated = false;    // its "<board>.log" exists
  bool stderrLogged = false;  // a "<board>.stderr.log" was written
  bool logComplete = true;    // no write to its record files failed
  char verdict[VERDICT_SIZE] = "";
  // The last bytes of the transcript: markers can straddle two reads.
  char tail[TRANSCRIPT_TAIL_SIZE] = {};
  int tailUsed = 0;
  // The start of the error stream's current line, for its percentage.
  char segment[PROGRESS_SEGMENT_SIZE] = {};
  int segmentUsed = 0;
};

// Sets up state for board: its name, waiting, nothing known.
void InitBoardState(const Board& board, BoardState* state);

// Takes the next bytes data[0,size) of the board's standard output (in any
// pieces, "\n" or "\r\n" line ends) and advances state->phase and
// state->failures by the texts tcpflash prints.
void WatchTranscript(BoardState* state, const char* data, int size);

// Takes the next bytes data[0,size) of the board's standard error and sets
// state->percent from a line (ended by "\r" or "\n", or still growing) that
// begins with a percentage (" 42%"); other text changes nothing.
void WatchErrorStream(BoardState* state, const char* data, int size);

// The leading percentage of text[0,size): optional spaces, 1-3 digits, "%".
// Returns 0-100, or -1 when text does not begin so.
int LeadingPercent(const char* text, int size);

// The phase's name: "waiting", "connecting", ... "closing".
const char* PhaseName(Phase phase);

// Writes the phase as the live line shows it to text[0,size): the phase
// name, with the percentage while sending ("sending 42%"), "done" once
// the board's tcpflash ended, "not started" for a board never started.
void DescribePhase(const BoardState& state, char* text, int size);

// True when the board was flashed: its tcpflash ended by itself with 0.
bool Flashed(const BoardState& state);

// Fills state->verdict for an ended board: "flashed", "failed: <why>" or
// "not started: <why>", the why taken from the ending and the transcript.
// startError is the reason a start failed (kStartFailed), else unused.
void DecideVerdict(BoardState* state, int boardTimeoutS, const char* startError);

#endif  // TCPFLASH_MANY_BOARD_STATE_H_

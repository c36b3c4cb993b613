// What tcpflash-many knows about one board while it runs and after: what the
// events of its tcpflash told (phase, share sent, versions, result), how its
// process ended and the verdict. Nothing is read from the console
// transcript: a board's version text lands there and must not count.
#ifndef TCPFLASH_MANY_BOARD_STATE_H_
#define TCPFLASH_MANY_BOARD_STATE_H_

#include "driver/run_events.h"
#include "many/board_list.h"
#include "many/event_line.h"
#include "many/event_stream.h"

// In the order a run passes through them: tcpflash-many's own, then the
// run's phases as its events name them.
enum class Phase {
  kWaiting,     // not started yet
  kConnecting,  // tcpflash started, first connection not made yet
  kConnected,   // asking the board's mode
  kSwitching,   // application told to start the update loader, reconnecting
  kLoader,      // loader version, clearing the flash data
  kSending,     // image transfer
  kFlashing,    // offset, start of flashing, waiting until ready
  kResetting,   // board reset
  kClosing,     // loader's close command
  kVerifying,   // waiting for the board to start its application again
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

// Room for a version text a board reports: the protocol's replies carry
// fewer bytes; a longer text is cut.
constexpr int VERSION_TEXT_SIZE = 128;
constexpr int VERDICT_SIZE = 112;

// A text a board reported, any bytes (NUL too).
struct ReportedText {
  char bytes[VERSION_TEXT_SIZE] = {};
  int length = -1;  // -1: not reported
};

struct BoardState {
  Board board;
  char name[BOARD_NAME_SIZE] = "";
  Phase phase = Phase::kWaiting;
  int mode = -1;         // the mode the board reported, -1 before
  long long sent = -1;   // image bytes handed to the connection, -1 before any progress
  long long total = -1;  // of the image's bytes
  int percent = -1;      // sent of total in whole percent, -1 before any progress
  ReportedText applicationVersion;
  ReportedText loaderVersion;
  bool info = false;        // its tcpflash only asks what the board runs (--info)
  bool resultSeen = false;  // tcpflash's result event arrived
  int resultStatus = 0;     // its status
  RunFailure failure = RunFailure::kNone;
  bool skipped = false;                  // the result: the board ran the version already
  ReportedText applicationVersionAfter;  // the result: what it runs after the update
  Ending ending = Ending::kNone;
  int exitStatus = -1;             // with kExited
  unsigned long abnormalCode = 0;  // with kAbnormal
  double startS = 0;               // seconds since the run began
  double endS = 0;
  bool logCreated = false;    // its "<board>.log" exists
  bool eventsLogged = false;  // a "<board>.events.jsonl" was written
  bool stderrLogged = false;  // a "<board>.stderr.log" was written
  bool logComplete = true;    // no write to its record files failed
  char verdict[VERDICT_SIZE] = "";
  // The board's tcpflash's standard error, cut into event lines.
  EventStream events;
};

// Sets up state for board: its name, waiting, nothing known.
void InitBoardState(const Board& board, BoardState* state);

// Takes one event of the board's tcpflash: "connected", "mode", "version", "phase", "progress" and
// "result" change state; other kinds, events with a key missing or of the wrong type, and values
// out of range (a phase or failure without a name, progress beyond its total) change nothing. The
// phase never goes back.
void TakeEvent(BoardState* state, const EventLine& event);

// The phase's name: "waiting", "connecting", "connected", then the run's
// phase names ("switching", ... "closing").
const char* PhaseName(Phase phase);

// What a failure means, as the verdict says it ("no device answered"); null
// for RunFailure::kNone.
const char* FailureText(RunFailure failure);

// Writes the phase as the live line shows it to text[0,size): the phase
// name, with the percentage while sending ("sending 42%"), "done" once
// the board's tcpflash ended, "not started" for a board never started.
void DescribePhase(const BoardState& state, char* text, int size);

// True when the board's tcpflash ended by itself with 0: the board was
// flashed (and verified, when asked), left as it was by --skip-current, or
// (--info) it answered.
bool Succeeded(const BoardState& state);

// True when the board was flashed: succeeded, neither skipped nor asked only.
bool Flashed(const BoardState& state);

// Writes version as the console shows it to text[0,size): control bytes
// (below 0x20, 0x7F-0x9F) as ".", so that a board cannot rewrite the
// console; "-" when the version is unknown.
void PrintableVersion(const ReportedText& version, char* text, int size);

// The version the board runs as far as known: the application's after the
// update, else the application's, else the loader's (the one --info read).
const ReportedText& RunningVersion(const BoardState& state);

// Fills state->verdict for an ended board: "flashed" (", runs version <v>"
// once verified), "skipped: already runs version <v>", "answered" (--info),
// "failed: <why>" or "not started: <why>", the why taken from the ending
// and, for a tcpflash that ended by itself, its result event. detail is why its start failed
// (kStartFailed) or how its process ended (kAbnormal), else unused.
void DecideVerdict(BoardState* state, int boardTimeoutS, const char* detail);

#endif  // TCPFLASH_MANY_BOARD_STATE_H_

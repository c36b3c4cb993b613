// The console while boards run: on a terminal one line per board, redrawn
// in place; otherwise one line per board as it ends.
#ifndef TCPFLASH_MANY_LIVE_VIEW_H_
#define TCPFLASH_MANY_LIVE_VIEW_H_

#include <cstdio>

#include "many/board_state.h"

constexpr int LIVE_LINE_SIZE = 256;
constexpr int LIVE_NOTE_SIZE = 96;

// Writes the board's line (address:port, phase, elapsed time, verdict once
// ended) to line[0,size), cut to at most width characters. now is seconds
// since the run began.
void FormatBoardLine(const BoardState& board, double now, int width, char* line, int size);

// Writes the count line ("16 boards: 3 flashed, 1 failed, 2 running, 10
// waiting", then note when not empty) to line[0,size), cut to width. Boards
// left as they were by --skip-current count apart ("3 flashed, 2 skipped"),
// and boards only asked what they run count as "answered".
void FormatCountLine(const BoardState* boards, int count, const char* note, int width, char* line,
                     int size);

class LiveView {
 public:
  // Shows boards[0,count) on out: redrawn in place when live (a terminal of
  // columns x rows), else line by line. The boards must outlive the view.
  void Begin(FILE* out, bool live, int columns, int rows, const BoardState* boards, int count);
  // The board at index has ended.
  void BoardEnded(int index, double now);
  // Sets a note for the count line (copied, cut to LIVE_NOTE_SIZE - 1).
  void SetNote(const char* note);
  // Redraws when live and force is set or 200 ms have passed since the last
  // drawing.
  void Refresh(double now, bool force);
  // Draws the last state; the cursor is left below it.
  void End(double now);

 private:
  // Adds text[0,len) to frame_, cut where frame_ is full.
  void Append(const char* text, int len);
  // Adds the zero-terminated line, a clear-to-end-of-line and "\n".
  void AppendLine(const char* line);

  FILE* out_ = nullptr;
  bool live_ = false;
  bool allFit_ = true;  // every board has a line; else only the running ones
  int columns_ = 80;
  int rows_ = 24;
  const BoardState* boards_ = nullptr;
  int count_ = 0;
  int drawn_ = 0;  // lines of the last drawing, the cursor below them
  double lastDraw_ = -1;
  char note_[LIVE_NOTE_SIZE] = "";
  // Ended boards still to be printed above the live lines (allFit_ false).
  int pending_[MAX_BOARDS] = {};
  int pendingCount_ = 0;
  char frame_[1 << 16] = {};
  int frameUsed_ = 0;
};

#endif  // TCPFLASH_MANY_LIVE_VIEW_H_

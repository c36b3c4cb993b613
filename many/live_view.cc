#include "many/live_view.h"

#include <cstring>

namespace {

constexpr double kRedrawS = 0.2;
// Cursor to the start of the line; clear to the end of the line; clear
// below the cursor.
constexpr const char* kClearLine = "\x1b[K";
constexpr const char* kClearBelow = "\x1b[J";

// Cuts line to width characters.
void Cut(char* line, int width) {
  if (width >= 0 && static_cast<int>(std::strlen(line)) > width) line[width] = '\0';
}

}  // namespace

void FormatBoardLine(const BoardState& board, double now, int width, char* line, int size) {
  char phase[24];
  DescribePhase(board, phase, sizeof phase);
  char elapsed[24] = "";
  if (board.ending == Ending::kNone && board.phase != Phase::kWaiting) {
    std::snprintf(elapsed, sizeof elapsed, "%.1f s", now - board.startS);
  } else if (board.ending != Ending::kNone && board.ending != Ending::kNotStarted) {
    std::snprintf(elapsed, sizeof elapsed, "%.1f s", board.endS - board.startS);
  }
  std::snprintf(line, static_cast<size_t>(size), "%-21s  %-12s  %8s  %s", board.name, phase,
                elapsed, board.verdict);
  // No trailing blanks while there is no verdict yet.
  int len = static_cast<int>(std::strlen(line));
  while (len > 0 && line[len - 1] == ' ') line[--len] = '\0';
  Cut(line, width);
}

void FormatCountLine(const BoardState* boards, int count, const char* note, int width, char* line,
                     int size) {
  int flashed = 0, skipped = 0, answered = 0, failed = 0, running = 0, waiting = 0;
  for (int i = 0; i < count; ++i) {
    const BoardState& b = boards[i];
    if (b.ending == Ending::kNone) {
      if (b.phase == Phase::kWaiting) {
        ++waiting;
      } else {
        ++running;
      }
    } else if (Succeeded(b)) {
      ++(b.info ? answered : b.skipped ? skipped : flashed);
    } else if (b.ending != Ending::kNotStarted) {
      ++failed;
    }
  }
  char done[48];
  if (count > 0 && boards[0].info) {
    std::snprintf(done, sizeof done, "%d answered", answered);
  } else if (skipped > 0) {
    std::snprintf(done, sizeof done, "%d flashed, %d skipped", flashed, skipped);
  } else {
    std::snprintf(done, sizeof done, "%d flashed", flashed);
  }
  std::snprintf(line, static_cast<size_t>(size),
                "%d board%s: %s, %d failed, %d running, %d waiting%s%s", count,
                count == 1 ? "" : "s", done, failed, running, waiting, note[0] != '\0' ? " - " : "",
                note);
  Cut(line, width);
}

void LiveView::Begin(FILE* out, bool live, int columns, int rows, const BoardState* boards,
                     int count) {
  out_ = out;
  live_ = live;
  columns_ = columns > 20 ? columns : 20;
  rows_ = rows > 4 ? rows : 4;
  boards_ = boards;
  count_ = count;
  // Every line and the count line, with a row to spare: a frame taller than
  // the screen would scroll away from under the cursor.
  allFit_ = count + 2 <= rows_;
  drawn_ = 0;
  lastDraw_ = -1;
  pendingCount_ = 0;
  note_[0] = '\0';
}

void LiveView::Append(const char* text, int len) {
  const int room = static_cast<int>(sizeof frame_) - frameUsed_;
  if (len > room) len = room;
  std::memcpy(frame_ + frameUsed_, text, static_cast<size_t>(len));
  frameUsed_ += len;
}

void LiveView::AppendLine(const char* line) {
  Append(line, static_cast<int>(std::strlen(line)));
  Append(kClearLine, static_cast<int>(std::strlen(kClearLine)));
  Append("\n", 1);
}

void LiveView::BoardEnded(int index, double now) {
  if (!live_) {
    char line[LIVE_LINE_SIZE];
    FormatBoardLine(boards_[index], now, LIVE_LINE_SIZE - 1, line, sizeof line);
    std::fprintf(out_, "%s\n", line);
    std::fflush(out_);
    return;
  }
  if (!allFit_ && pendingCount_ < MAX_BOARDS) pending_[pendingCount_++] = index;
  Refresh(now, true);
}

void LiveView::SetNote(const char* note) { std::snprintf(note_, sizeof note_, "%s", note); }

void LiveView::Refresh(double now, bool force) {
  if (!live_ || (!force && lastDraw_ >= 0 && now - lastDraw_ < kRedrawS)) return;
  lastDraw_ = now;
  frameUsed_ = 0;
  char line[LIVE_LINE_SIZE];
  if (drawn_ > 0) {
    std::snprintf(line, sizeof line, "\r\x1b[%dA", drawn_);
    Append(line, static_cast<int>(std::strlen(line)));
  }
  const int width = columns_ - 1 < LIVE_LINE_SIZE - 1 ? columns_ - 1 : LIVE_LINE_SIZE - 1;
  for (int i = 0; i < pendingCount_; ++i) {
    FormatBoardLine(boards_[pending_[i]], now, width, line, sizeof line);
    AppendLine(line);
  }
  pendingCount_ = 0;
  int lines = 0;
  for (int i = 0; i < count_; ++i) {
    const BoardState& b = boards_[i];
    const bool running = b.ending == Ending::kNone && b.phase != Phase::kWaiting;
    if (!allFit_ && (!running || lines >= rows_ - 3)) continue;
    FormatBoardLine(b, now, width, line, sizeof line);
    AppendLine(line);
    ++lines;
  }
  FormatCountLine(boards_, count_, note_, width, line, sizeof line);
  AppendLine(line);
  Append(kClearBelow, static_cast<int>(std::strlen(kClearBelow)));
  drawn_ = lines + 1;
  std::fwrite(frame_, 1, static_cast<size_t>(frameUsed_), out_);
  std::fflush(out_);
}

void LiveView::End(double now) { Refresh(now, true); }

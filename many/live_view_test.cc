#include "many/live_view.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/testutil.h"

namespace {

BoardState Board7000(Phase phase) {
  BoardState state;
  Board board;
  std::snprintf(board.address, sizeof board.address, "127.0.0.1");
  board.port = 7000;
  InitBoardState(board, &state);
  state.phase = phase;
  state.startS = 2.0;
  return state;
}

// The board's tcpflash ended with 0 at endS: flashed.
void EndFlashed(BoardState* state, double endS) {
  state->ending = Ending::kExited;
  state->exitStatus = 0;
  state->endS = endS;
  DecideVerdict(state, 600, "");
}

std::string Line(const BoardState& state, double now, int width = 200) {
  char line[LIVE_LINE_SIZE];
  FormatBoardLine(state, now, width, line, sizeof line);
  return line;
}

TEST(LiveViewTest, BoardLines) {
  EXPECT_EQ(Line(Board7000(Phase::kWaiting), 5), "127.0.0.1:7000         waiting");
  EXPECT_EQ(Line(Board7000(Phase::kSwitching), 5.25),
            "127.0.0.1:7000         switching        3.2 s");
  BoardState sending = Board7000(Phase::kSending);
  static EventLine progress;
  const char kProgress[] = "{\"event\":\"progress\",\"sent\":42,\"total\":100}";
  ASSERT_EQ(progress.Parse(kProgress, sizeof kProgress - 1), 0);
  TakeEvent(&sending, progress);
  EXPECT_EQ(Line(sending, 14), "127.0.0.1:7000         sending 42%     12.0 s");
  EXPECT_EQ(Line(sending, 14, 20), "127.0.0.1:7000      ");
  BoardState done = Board7000(Phase::kClosing);
  done.ending = Ending::kExited;
  done.exitStatus = 0;
  done.endS = 3.5;
  DecideVerdict(&done, 600, "");
  EXPECT_EQ(Line(done, 99), "127.0.0.1:7000         done             1.5 s  flashed");
}

TEST(LiveViewTest, CountLine) {
  BoardState boards[4] = {Board7000(Phase::kWaiting), Board7000(Phase::kSending),
                          Board7000(Phase::kClosing), Board7000(Phase::kConnected)};
  boards[2].ending = Ending::kExited;
  boards[2].exitStatus = 0;
  boards[3].ending = Ending::kExited;
  boards[3].exitStatus = 255;
  char line[LIVE_LINE_SIZE];
  FormatCountLine(boards, 4, "", 200, line, sizeof line);
  EXPECT_STREQ(line, "4 boards: 1 flashed, 1 failed, 1 running, 1 waiting");
  FormatCountLine(boards, 4, "stopping", 200, line, sizeof line);
  EXPECT_STREQ(line, "4 boards: 1 flashed, 1 failed, 1 running, 1 waiting - stopping");
  // Left as it was by --skip-current: done, but not flashed.
  boards[3].exitStatus = 0;
  boards[3].skipped = true;
  FormatCountLine(boards, 4, "", 200, line, sizeof line);
  EXPECT_STREQ(line, "4 boards: 1 flashed, 1 skipped, 0 failed, 1 running, 1 waiting");
  for (BoardState& b : boards) b.info = true;
  FormatCountLine(boards, 4, "", 200, line, sizeof line);
  EXPECT_STREQ(line, "4 boards: 2 answered, 0 failed, 1 running, 1 waiting");
}

TEST(LiveViewTest, RedrawsInPlaceOnATerminal) {
  static BoardState boards[2] = {Board7000(Phase::kWaiting), Board7000(Phase::kWaiting)};
  boards[1].board.port = 7001;
  BoardName(boards[1].board, boards[1].name);
  FILE* file = std::tmpfile();
  static LiveView view;
  view.Begin(file, true, 80, 24, boards, 2);
  view.Refresh(0, true);
  boards[0].phase = Phase::kConnecting;
  view.Refresh(0.1, false);  // too soon: nothing drawn
  view.Refresh(3, false);
  EXPECT_EQ(StreamText(file),
            "127.0.0.1:7000         waiting\x1b[K\n"
            "127.0.0.1:7001         waiting\x1b[K\n"
            "2 boards: 0 flashed, 0 failed, 0 running, 2 waiting\x1b[K\n\x1b[J"
            "\r\x1b[3A"
            "127.0.0.1:7000         connecting       1.0 s\x1b[K\n"
            "127.0.0.1:7001         waiting\x1b[K\n"
            "2 boards: 0 flashed, 0 failed, 1 running, 1 waiting\x1b[K\n\x1b[J");
  std::fclose(file);
}

TEST(LiveViewTest, TooManyBoardsForTheScreenScrollEndedOnesAbove) {
  static BoardState boards[6];
  for (int i = 0; i < 6; ++i) {
    boards[i] = Board7000(i < 2 ? Phase::kConnecting : Phase::kWaiting);
    boards[i].board.port = 7000 + i;
    BoardName(boards[i].board, boards[i].name);
  }
  FILE* file = std::tmpfile();
  static LiveView view;
  view.Begin(file, true, 80, 5, boards, 6);
  view.Refresh(3, true);
  EndFlashed(&boards[0], 3);
  view.BoardEnded(0, 3);
  EXPECT_EQ(StreamText(file),
            "127.0.0.1:7000         connecting       1.0 s\x1b[K\n"
            "127.0.0.1:7001         connecting       1.0 s\x1b[K\n"
            "6 boards: 0 flashed, 0 failed, 2 running, 4 waiting\x1b[K\n\x1b[J"
            "\r\x1b[3A"
            "127.0.0.1:7000         done             1.0 s  flashed\x1b[K\n"
            "127.0.0.1:7001         connecting       1.0 s\x1b[K\n"
            "6 boards: 1 flashed, 0 failed, 1 running, 4 waiting\x1b[K\n\x1b[J");
  std::fclose(file);
}

TEST(LiveViewTest, OffATerminalOneLinePerEndedBoard) {
  static BoardState boards[2] = {Board7000(Phase::kConnecting), Board7000(Phase::kConnecting)};
  FILE* file = std::tmpfile();
  static LiveView view;
  view.Begin(file, false, 80, 24, boards, 2);
  view.Refresh(1, true);
  EndFlashed(&boards[0], 4);
  view.BoardEnded(0, 4);
  EXPECT_EQ(StreamText(file), "127.0.0.1:7000         done             2.0 s  flashed\n");
  std::fclose(file);
}

}  // namespace

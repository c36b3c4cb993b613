#include "many/board_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A whole run from application mode as tcpflash prints it, cut where the
// phase changes, with the phase each piece leads to.
const std::vector<std::pair<std::string, Phase>> kRun = {
    {"TCP/IP Application Flash Utility Version 0.07 fuer Arm7 und Arm9 (06.02.2008)\r\n"
     "Connecting to 127.0.0.1 port 7000\r\n",
     Phase::kConnecting},
    {"s init ok\nAck Frame received: ok\r\nStatus lesen... ok\r\n\r\nStatus received..ok\r\n"
     "Device found 1\r\n\r\nVersion received: 15\r\n 0  0  0  a \r\nVersion SIM01\r\n",
     Phase::kConnected},
    {"Starte Update...Write Update Command ok\nAck Frame received: 8\r\n 0  0  2  2 18  0 \r\n"
     "ok\r\nConnecting to Updateloader...Loop Ack Frame received: ok\r\n"
     "Status lesen... ok\r\n\r\nStatus received..ok\r\nDevice found 2\r\n",
     Phase::kSwitching},
    {"\r\nUpdateloader Version received: SIM-LOADER 1.0\r\nReset Flashdata ok\n",
     Phase::kPreparing},
    {"Transfering image..ok\n", Phase::kSending},
    {"Setting Offset ok\nStarting Flash ok\nDevice State: busy\r\nDevice State: ready\r\n",
     Phase::kFlashing},
    {"\r\nDev reset\r\nAck Frame received: 6\r\n 0  4  7  0 18  0 \r\n Restarting Device ok\r\n",
     Phase::kResetting},
    {"Close ok\n", Phase::kClosing},
};

std::string Windows(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

BoardState Started() {
  BoardState state;
  Board board;
  std::snprintf(board.address, sizeof board.address, "127.0.0.1");
  board.port = 7000;
  InitBoardState(board, &state);
  state.phase = Phase::kConnecting;
  return state;
}

TEST(BoardStateTest, PhasesFollowTheTranscriptInAnyPiecesAndLineEnds) {
  for (bool windows : {false, true}) {
    for (size_t piece : {size_t{1}, size_t{3}, size_t{4096}}) {
      SCOPED_TRACE(testing::Message() << (windows ? "CRLF" : "LF") << ", pieces of " << piece);
      BoardState state = Started();
      for (const auto& [text, phase] : kRun) {
        const std::string bytes = windows ? Windows(text) : text;
        for (size_t at = 0; at < bytes.size(); at += piece) {
          WatchTranscript(&state, bytes.data() + at,
                          static_cast<int>(std::min(piece, bytes.size() - at)));
        }
        EXPECT_EQ(state.phase, phase) << text;
      }
      EXPECT_EQ(state.failures, 0u);
    }
  }
}

TEST(BoardStateTest, ProgressFromALeadingPercentageOnly) {
  const struct {
    std::string stream;
    int percent;
  } kCases[] = {
      {" 42%  1.6/3.8 MB  12.0 MB/s\r", 42},
      {"\r  7%  0.3/3.8 MB", 7},  // a line redrawn in place, not ended yet
      {" 10%\n 20%\n100%\n", 100},
      {" 42% x\rtcpflash: something else\n", 42},
      {"sending 42%\n", -1},
      {"1000%\n", -1},
      {"42 %\n", -1},
      {"%\n", -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stream);
    for (size_t piece : {size_t{1}, c.stream.size()}) {
      BoardState state = Started();
      for (size_t at = 0; at < c.stream.size(); at += piece) {
        WatchErrorStream(&state, c.stream.data() + at,
                         static_cast<int>(std::min(piece, c.stream.size() - at)));
      }
      EXPECT_EQ(state.percent, c.percent);
    }
  }
  BoardState sending = Started();
  sending.phase = Phase::kSending;
  sending.percent = 42;
  char text[24];
  DescribePhase(sending, text, sizeof text);
  EXPECT_STREQ(text, "sending 42%");
}

TEST(BoardStateTest, VerdictTable) {
  const struct {
    const char* transcript;
    Ending ending;
    int status;
    const char* detail;
    const char* verdict;
    const char* shown;  // the phase column
  } kCases[] = {
      {"s init ok\nTransfering image..ok\nDev reset\r\nClose ok\n", Ending::kExited, 0, "",
       "flashed", "done"},
      {"Cannot open fw.bin\n", Ending::kExited, 1, "",
       "failed: image not opened (while connecting)", "done"},
      {"Connecting to 127.0.0.1 port 1\r\nconnect err\ns error!\n", Ending::kExited, 1, "",
       "failed: no connection (while connecting)", "done"},
      {"s init ok\nRead Err\nNo Device found\r\n", Ending::kExited, 255, "",
       "failed: no device answered (while connected)", "done"},
      {"s init ok\nStarte Update...ok\r\nConnecting to Updateloader...Loop connect err\nLoop "
       "Timeout\r\n",
       Ending::kExited, 255, "",
       "failed: update loader unreachable after the switch (while switching)", "done"},
      {"s init ok\nStarte Update...ok\r\nLoop Error starting Updateloader\r\n", Ending::kExited,
       255, "", "failed: update loader did not start (while switching)", "done"},
      {"s init ok\nReset Flashdata ok\nTransfering image..Write err\n", Ending::kExited, 255, "",
       "failed: image transfer broke off (while sending)", "done"},
      {"Transfering image..ok\nSetting Offset ok\r\nNo device state for 30 s: giving up\r\n",
       Ending::kExited, 255, "", "failed: no ready report from the board (while flashing)", "done"},
      {"Reset Flashdata err\nTransfering image..ok\nSetting Offset ok\nDev reset\r\nClose ok\n",
       Ending::kExited, 255, "", "failed: a flash step could not be sent (while closing)", "done"},
      {"s init ok\n", Ending::kExited, 3, "", "failed: exit status 3 while connected", "done"},
      {"s init ok\nTransfering image..", Ending::kTimedOut, 0, "",
       "failed: no end after 600 s, stopped while sending", "done"},
      {"s init ok\n", Ending::kStopped, 0, "", "failed: stopped by the operator while connected",
       "done"},
      {"s init ok\n", Ending::kAbnormal, 0, "signal 11",
       "failed: ended abnormally (signal 11) while connected", "done"},
      {"", Ending::kStartFailed, 0, "no such file", "failed: not started: no such file",
       "not started"},
      {"", Ending::kNotStarted, 0, "", "not started: the run was stopped first", "not started"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.verdict);
    BoardState state = Started();
    WatchTranscript(&state, c.transcript, static_cast<int>(std::strlen(c.transcript)));
    state.ending = c.ending;
    state.exitStatus = c.status;
    DecideVerdict(&state, 600, c.detail);
    EXPECT_STREQ(state.verdict, c.verdict);
    EXPECT_EQ(Flashed(state), std::string(c.verdict) == "flashed");
    char shown[24];
    DescribePhase(state, shown, sizeof shown);
    EXPECT_STREQ(shown, c.shown);
  }
}

TEST(BoardStateTest, TransferBrokenOffTellsHowFar) {
  BoardState state = Started();
  const std::string out = "s init ok\nTransfering image..";
  WatchTranscript(&state, out.data(), static_cast<int>(out.size()));
  WatchErrorStream(&state, " 37%  1.4/3.8 MB\r", 17);
  WatchTranscript(&state, "Write err\n", 10);
  state.ending = Ending::kExited;
  state.exitStatus = 255;
  DecideVerdict(&state, 600, "");
  EXPECT_STREQ(state.verdict, "failed: image transfer broke off (while sending, 37% sent)");
}

}  // namespace

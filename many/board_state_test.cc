#include "many/board_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Takes the event lines of a board's error stream into its state.
class StateSink final : public EventSink {
 public:
  explicit StateSink(BoardState* state) : state_(state) {}
  void OnEvent(const char*, int, const EventLine& event) override { TakeEvent(state_, event); }
  void OnOtherText(const char*, int) override {}

 private:
  BoardState* state_;
};

// Feeds text to state's event stream in pieces of piece bytes.
void Feed(BoardState* state, const std::string& text, size_t piece = 4096) {
  StateSink sink(state);
  for (size_t at = 0; at < text.size(); at += piece) {
    state->events.Take(text.data() + at, static_cast<int>(std::min(piece, text.size() - at)),
                       &sink);
  }
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

std::string Result(int status, const char* failure) {
  return std::string("{\"t\":9.000,\"event\":\"result\",\"status\":") + std::to_string(status) +
         ",\"flashed\":" + (status == 0 ? "true" : "false") +
         ",\"failure\":" + (failure != nullptr ? "\"" + std::string(failure) + "\"" : "null") +
         ",\"seconds\":9.000}\n";
}

// A whole run from application mode as tcpflash's events tell it, cut where
// the phase changes, with the phase each piece leads to.
const std::vector<std::pair<std::string, Phase>> kRun = {
    {"{\"t\":0.000,\"event\":\"start\",\"tool\":\"tcpflash\",\"version\":\"0.07\",\"address\":"
     "\"127.0.0.1\",\"port\":7000,\"image\":\"fw.bin\",\"size\":1500}\n",
     Phase::kConnecting},
    {"{\"t\":0.010,\"event\":\"connected\",\"attempt\":1}\n"
     "{\"t\":0.020,\"event\":\"mode\",\"mode\":1}\n"
     "{\"t\":0.030,\"event\":\"version\",\"of\":\"application\",\"text\":\"SIM01\"}\n",
     Phase::kConnected},
    {"{\"t\":0.040,\"event\":\"phase\",\"phase\":\"switching\"}\n"
     "{\"t\":4.100,\"event\":\"connected\",\"attempt\":2}\n"
     "{\"t\":4.110,\"event\":\"mode\",\"mode\":2}\n",
     Phase::kSwitching},
    {"{\"t\":4.120,\"event\":\"phase\",\"phase\":\"loader\"}\n"
     "{\"t\":4.130,\"event\":\"version\",\"of\":\"loader\",\"text\":\"SIM-LOADER 1.0\"}\n"
     "{\"t\":4.140,\"event\":\"step\",\"step\":\"reset-flashdata\",\"ok\":true}\n",
     Phase::kLoader},
    {"{\"t\":4.150,\"event\":\"phase\",\"phase\":\"sending\"}\n"
     "{\"t\":4.160,\"event\":\"progress\",\"sent\":750,\"total\":1500}\n",
     Phase::kSending},
    {"{\"t\":4.170,\"event\":\"progress\",\"sent\":1500,\"total\":1500}\n"
     "{\"t\":4.180,\"event\":\"phase\",\"phase\":\"flashing\"}\n"
     "{\"t\":4.190,\"event\":\"step\",\"step\":\"set-offset\",\"ok\":true}\n",
     Phase::kFlashing},
    {"{\"t\":4.200,\"event\":\"phase\",\"phase\":\"resetting\"}\n", Phase::kResetting},
    {"{\"t\":4.300,\"event\":\"phase\",\"phase\":\"closing\"}\r\n", Phase::kClosing},
    {"{\"t\":4.400,\"event\":\"phase\",\"phase\":\"verifying\"}\n" + Result(0, nullptr),
     Phase::kVerifying},
};

TEST(BoardStateTest, AWholeRunFromItsEventsInAnyPieces) {
  for (size_t piece : {size_t{1}, size_t{5}, size_t{4096}}) {
    SCOPED_TRACE(piece);
    static BoardState state;
    state = Started();
    int percentWhileSending = -2;
    for (const auto& [text, phase] : kRun) {
      Feed(&state, text, piece);
      EXPECT_EQ(state.phase, phase) << text;
      if (phase == Phase::kSending) percentWhileSending = state.percent;
    }
    EXPECT_EQ(percentWhileSending, 50);
    EXPECT_EQ(state.percent, 100);
    EXPECT_EQ(state.sent, 1500);
    EXPECT_EQ(state.total, 1500);
    EXPECT_EQ(state.mode, 2);
    EXPECT_EQ(std::string(state.applicationVersion.bytes,
                          static_cast<size_t>(state.applicationVersion.length)),
              "SIM01");
    EXPECT_EQ(
        std::string(state.loaderVersion.bytes, static_cast<size_t>(state.loaderVersion.length)),
        "SIM-LOADER 1.0");
    EXPECT_TRUE(state.resultSeen);
    EXPECT_EQ(state.failure, RunFailure::kNone);
    state.ending = Ending::kExited;
    state.exitStatus = 0;
    DecideVerdict(&state, 600, "");
    EXPECT_STREQ(state.verdict, "flashed");
  }
}

TEST(BoardStateTest, WhatABoardPrintsChangesNothing) {
  // Texts tcpflash prints on failures and phase changes, as a loader version.
  BoardState state = Started();
  Feed(&state,
       "{\"event\":\"connected\",\"attempt\":1}\n"
       "{\"event\":\"version\",\"of\":\"loader\",\"text\":\"Write err\\nClose ok\\r\\n"
       "No Device found \\\"q\\\" \\\\ \\u00e9\\u00ff\"}\n");
  EXPECT_EQ(state.phase, Phase::kConnected);
  EXPECT_EQ(std::string(state.loaderVersion.bytes, static_cast<size_t>(state.loaderVersion.length)),
            "Write err\nClose ok\r\nNo Device found \"q\" \\ \xe9\xff");
  EXPECT_EQ(state.failure, RunFailure::kNone);
  // Events that are out of range or of the wrong shape are ignored.
  Feed(&state,
       "{\"event\":\"phase\",\"phase\":\"Close ok\"}\n"
       "{\"event\":\"phase\",\"phase\":1}\n"
       "{\"event\":\"progress\",\"sent\":1501,\"total\":1500}\n"
       "{\"event\":\"progress\",\"sent\":-1,\"total\":1500}\n"
       "{\"event\":\"progress\",\"sent\":1.5,\"total\":1500}\n"
       "{\"event\":\"mode\",\"mode\":256}\n"
       "{\"event\":\"version\",\"of\":\"board\",\"text\":\"x\"}\n"
       "{\"event\":\"result\",\"status\":\"255\",\"failure\":\"write\"}\n"
       "{\"event\":\"Result\",\"status\":255,\"failure\":\"write\"}\n");
  EXPECT_EQ(state.phase, Phase::kConnected);
  EXPECT_EQ(state.percent, -1);
  EXPECT_EQ(state.mode, -1);
  EXPECT_EQ(state.applicationVersion.length, -1);
  EXPECT_FALSE(state.resultSeen);
  // The phase never goes back.
  Feed(&state,
       "{\"event\":\"phase\",\"phase\":\"flashing\"}\n"
       "{\"event\":\"phase\",\"phase\":\"sending\"}\n");
  EXPECT_EQ(state.phase, Phase::kFlashing);
}

TEST(BoardStateTest, VerdictTable) {
  const struct {
    std::string events;
    Ending ending;
    int status;
    const char* detail;
    const char* verdict;
    const char* shown;  // the phase column
  } kCases[] = {
      {Result(0, nullptr), Ending::kExited, 0, "", "flashed", "done"},
      {Result(1, "no-image"), Ending::kExited, 1, "", "failed: image not opened (while connecting)",
       "done"},
      {Result(1, "connect"), Ending::kExited, 1, "", "failed: no connection (while connecting)",
       "done"},
      {"{\"event\":\"connected\",\"attempt\":1}\n" + Result(-1, "no-device"), Ending::kExited, 255,
       "", "failed: no device answered (while connected)", "done"},
      {"{\"event\":\"phase\",\"phase\":\"switching\"}\n" + Result(-1, "loader-unreachable"),
       Ending::kExited, 255, "",
       "failed: update loader unreachable after the switch (while switching)", "done"},
      {"{\"event\":\"phase\",\"phase\":\"sending\"}\n"
       "{\"event\":\"progress\",\"sent\":78,\"total\":100}\n" +
           Result(-1, "write"),
       Ending::kExited, 255, "", "failed: image transfer broke off (while sending, 78% sent)",
       "done"},
      {"{\"event\":\"phase\",\"phase\":\"sending\"}\n" + Result(-1, "write"), Ending::kExited, 255,
       "", "failed: image transfer broke off (while sending)", "done"},
      {"{\"event\":\"phase\",\"phase\":\"closing\"}\n" + Result(-1, "not-ordered"), Ending::kExited,
       255, "", "failed: a flash step could not be sent (while closing)", "done"},
      // No result, one that tells another status, or one naming no known failure.
      {"{\"event\":\"connected\",\"attempt\":1}\n", Ending::kExited, 3, "",
       "failed: exit status 3 while connected", "done"},
      {Result(1, "connect"), Ending::kExited, 255, "", "failed: exit status 255 while connecting",
       "done"},
      {Result(-1, "brand-new"), Ending::kExited, 255, "",
       "failed: exit status 255 while connecting", "done"},
      {"{\"event\":\"phase\",\"phase\":\"verifying\"}\n" + Result(2, "boot"), Ending::kExited, 2,
       "", "failed: did not start its application (while verifying)", "done"},
      // After the update the board runs what it ran before.
      {"{\"event\":\"result\",\"status\":2,\"failure\":\"version-mismatch\","
       "\"application_version_after\":\"1.0\\u001b[2J\"}\n",
       Ending::kExited, 2, "", "failed: runs version 1.0.[2J, not the one expected", "done"},
      // Exit status 0 is a flashed board whatever a result says.
      {Result(-1, "write"), Ending::kExited, 0, "", "flashed", "done"},
      {"{\"event\":\"phase\",\"phase\":\"sending\"}\n"
       "{\"event\":\"progress\",\"sent\":1,\"total\":3}\n",
       Ending::kTimedOut, 0, "", "failed: no end after 600 s, stopped while sending, 33% sent",
       "done"},
      {"{\"event\":\"connected\",\"attempt\":1}\n", Ending::kStopped, 0, "",
       "failed: stopped by the operator while connected", "done"},
      {"{\"event\":\"connected\",\"attempt\":1}\n", Ending::kAbnormal, 0, "signal 11",
       "failed: ended abnormally (signal 11) while connected", "done"},
      {"", Ending::kStartFailed, 0, "no such file", "failed: not started: no such file",
       "not started"},
      {"", Ending::kNotStarted, 0, "", "not started: the run was stopped first", "not started"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.events);
    BoardState state = Started();
    Feed(&state, c.events);
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

TEST(BoardStateTest, EveryFailureHasItsTextAndEveryNameComesBack) {
  for (int i = 1; i <= static_cast<int>(RunFailure::kNotReady); ++i) {
    const RunFailure failure = static_cast<RunFailure>(i);
    ASSERT_NE(RunFailureName(failure), nullptr);
    SCOPED_TRACE(RunFailureName(failure));
    EXPECT_EQ(RunFailureFromName(RunFailureName(failure), std::strlen(RunFailureName(failure))),
              failure);
    ASSERT_NE(FailureText(failure), nullptr);
    BoardState state = Started();
    Feed(&state, Result(-1, RunFailureName(failure)));
    EXPECT_EQ(state.failure, failure);
    state.ending = Ending::kExited;
    state.exitStatus = 255;
    DecideVerdict(&state, 600, "");
    EXPECT_EQ(std::string(state.verdict),
              std::string("failed: ") + FailureText(failure) + " (while connecting)");
  }
  EXPECT_EQ(FailureText(RunFailure::kNone), nullptr);
}

TEST(BoardStateTest, LiveLineShowsTheShareSent) {
  BoardState state = Started();
  Feed(&state, "{\"event\":\"phase\",\"phase\":\"sending\"}\n");
  char text[24];
  DescribePhase(state, text, sizeof text);
  EXPECT_STREQ(text, "sending");
  Feed(&state, "{\"event\":\"progress\",\"sent\":4200,\"total\":10000}\n");
  DescribePhase(state, text, sizeof text);
  EXPECT_STREQ(text, "sending 42%");
  // An empty image is all sent at once.
  Feed(&state, "{\"event\":\"progress\",\"sent\":0,\"total\":0}\n");
  EXPECT_EQ(state.percent, 100);
}

}  // namespace

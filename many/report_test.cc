#include "many/report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/testutil.h"

namespace {

// What was written to file, which is closed.
std::string Captured(FILE* file) {
  std::string text = StreamText(file);
  std::fclose(file);
  return text;
}

BoardState Ended(const char* address, int port, Ending ending, int status, double seconds,
                 const char* transcript) {
  BoardState state;
  Board board;
  std::snprintf(board.address, sizeof board.address, "%s", address);
  board.port = port;
  InitBoardState(board, &state);
  if (ending != Ending::kNotStarted) {
    state.phase = Phase::kConnecting;
    state.logCreated = true;
  }
  WatchTranscript(&state, transcript, static_cast<int>(std::strlen(transcript)));
  state.ending = ending;
  state.exitStatus = status;
  state.startS = 1.0;
  state.endS = 1.0 + seconds;
  DecideVerdict(&state, 600, "");
  return state;
}

TEST(ReportTest, UtcTime) {
  char text[UTC_TIME_SIZE];
  FormatUtcTime(0, text);
  EXPECT_STREQ(text, "1970-01-01T00:00:00Z");
  FormatUtcTime(1700000000, text);
  EXPECT_STREQ(text, "2023-11-14T22:13:20Z");
}

TEST(ReportTest, LogNamesHaveNoColon) {
  Board board;
  std::snprintf(board.address, sizeof board.address, "192.168.14.17");
  board.port = 6666;
  char name[LOG_NAME_SIZE];
  BoardLogName(board, ".log", name);
  EXPECT_STREQ(name, "192.168.14.17_6666.log");
  std::snprintf(board.address, sizeof board.address, "255.255.255.255");
  board.port = 65535;
  BoardLogName(board, ".stderr.log", name);
  EXPECT_STREQ(name, "255.255.255.255_65535.stderr.log");
}

const BoardState kBoards[] = {
    Ended("127.0.0.1", 7000, Ending::kExited, 0, 2.25, "s init ok\nClose ok\n"),
    Ended("127.0.0.1", 7001, Ending::kExited, 255, 0.5, "s init ok\nNo Device found\r\n"),
    Ended("10.0.0.9", 6666, Ending::kNotStarted, -1, 0, ""),
};

TEST(ReportTest, TableNamesEveryBoardAndHowItEnded) {
  FILE* file = std::tmpfile();
  PrintResultTable(file, kBoards, 3);
  EXPECT_EQ(Captured(file),
            "board                  exit  verdict                                           time\n"
            "127.0.0.1:7000            0  flashed                                          2.2 s\n"
            "127.0.0.1:7001          255  failed: no device answered (while connected)     0.5 s\n"
            "10.0.0.9:6666             -  not started: the run was stopped first               -\n"
            "3 boards: 1 flashed, 1 failed, 1 not started\n");
}

TEST(ReportTest, JsonReportHoldsTheSameFacts) {
  RunFacts facts;
  facts.imagePath = "fw \"new\".bin";
  facts.imageSize = 3;
  std::snprintf(facts.imageSha256, sizeof facts.imageSha256, "%s",
                "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  facts.started = 1700000000;
  facts.ended = 1700000062;
  facts.jobs = 2;
  facts.boardTimeoutS = 600;
  facts.logDir = "logs";
  facts.interrupted = true;
  FILE* file = std::tmpfile();
  ASSERT_EQ(WriteJsonReport(file, facts, kBoards, 3), 0);
  EXPECT_EQ(
      Captured(file),
      "{\n"
      "  \"image\": {\"name\": \"fw \\\"new\\\".bin\", \"size\": 3, \"sha256\": "
      "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"},\n"
      "  \"started\": \"2023-11-14T22:13:20Z\",\n"
      "  \"ended\": \"2023-11-14T22:14:22Z\",\n"
      "  \"log_dir\": \"logs\",\n"
      "  \"jobs\": 2,\n"
      "  \"board_timeout_s\": 600,\n"
      "  \"interrupted\": true,\n"
      "  \"flashed\": 1,\n"
      "  \"failed\": 1,\n"
      "  \"not_started\": 1,\n"
      "  \"exit_status\": 1,\n"
      "  \"boards\": [\n"
      "    {\"board\": \"127.0.0.1:7000\", \"address\": \"127.0.0.1\", \"port\": 7000, "
      "\"flashed\": true, \"exit_status\": 0, \"ending\": \"exited\", \"verdict\": \"flashed\", "
      "\"phase\": \"closing\", \"seconds\": 2.250, \"log\": \"127.0.0.1_7000.log\", "
      "\"stderr_log\": null, \"log_complete\": true},\n"
      "    {\"board\": \"127.0.0.1:7001\", \"address\": \"127.0.0.1\", \"port\": 7001, "
      "\"flashed\": false, \"exit_status\": 255, \"ending\": \"exited\", \"verdict\": "
      "\"failed: no device answered (while connected)\", \"phase\": \"connected\", \"seconds\": "
      "0.500, \"log\": \"127.0.0.1_7001.log\", \"stderr_log\": null, \"log_complete\": true},\n"
      "    {\"board\": \"10.0.0.9:6666\", \"address\": \"10.0.0.9\", \"port\": 6666, "
      "\"flashed\": false, \"exit_status\": null, \"ending\": \"not started\", \"verdict\": "
      "\"not started: the run was stopped first\", \"phase\": \"waiting\", \"seconds\": null, "
      "\"log\": null, \"stderr_log\": null, \"log_complete\": true}\n"
      "  ]\n"
      "}\n");
}

// A board whose record lost bytes fails the run, flashed or not; paths of
// any bytes stay valid UTF-8.
TEST(ReportTest, IncompleteRecordsAndForeignBytes) {
  BoardState boards[] = {kBoards[0], kBoards[0]};
  boards[1].board.port = 7002;
  EXPECT_EQ(RunExitStatus(boards, 2), 0);
  boards[1].logComplete = false;
  EXPECT_EQ(RunExitStatus(boards, 2), 1);
  RunFacts facts;
  facts.imagePath = "lat\xe9.bin";
  facts.logDir = "\xff\x01";
  FILE* file = std::tmpfile();
  ASSERT_EQ(WriteJsonReport(file, facts, boards, 2), 0);
  const std::string text = Captured(file);
  EXPECT_NE(text.find("\"name\": \"lat\\u00e9.bin\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"log_dir\": \"\\u00ff\\u0001\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"exit_status\": 1,"), std::string::npos) << text;
  EXPECT_NE(text.find("\"log_complete\": true}"), std::string::npos);
  EXPECT_NE(text.find("\"log_complete\": false}"), std::string::npos);
  for (const char c : text) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << text;
}

}  // namespace

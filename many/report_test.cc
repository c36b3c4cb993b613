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

// Takes the event lines of events[0,size) into state.
void TakeEvents(BoardState* state, const char* events) {
  class Sink final : public EventSink {
   public:
    explicit Sink(BoardState* state) : state_(state) {}
    void OnEvent(const char*, int, const EventLine& event) override { TakeEvent(state_, event); }
    void OnOtherText(const char*, int) override {}

   private:
    BoardState* state_;
  } sink(state);
  state->events.Take(events, static_cast<int>(std::strlen(events)), &sink);
}

BoardState Ended(const char* address, int port, Ending ending, int status, double seconds,
                 const char* events) {
  BoardState state;
  Board board;
  std::snprintf(board.address, sizeof board.address, "%s", address);
  board.port = port;
  InitBoardState(board, &state);
  if (ending != Ending::kNotStarted) {
    state.phase = Phase::kConnecting;
    state.logCreated = true;
    state.eventsLogged = true;
  }
  TakeEvents(&state, events);
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
    Ended("127.0.0.1", 7000, Ending::kExited, 0, 2.25,
          "{\"event\":\"connected\",\"attempt\":1}\n"
          "{\"event\":\"mode\",\"mode\":1}\n"
          "{\"event\":\"version\",\"of\":\"application\",\"text\":\"SIM01\"}\n"
          // A loader version text with quotes, a backslash, a NUL, a line end
          // and bytes above 0x7F.
          "{\"event\":\"version\",\"of\":\"loader\",\"text\":"
          "\"Close ok \\\"L\\\\1\\u0000\\r\\n\\u00e9\\u00ff\"}\n"
          "{\"event\":\"phase\",\"phase\":\"sending\"}\n"
          "{\"event\":\"progress\",\"sent\":3,\"total\":3}\n"
          "{\"event\":\"phase\",\"phase\":\"closing\"}\n"
          "{\"event\":\"result\",\"status\":0,\"flashed\":true,\"failure\":null}\n"),
    Ended("127.0.0.1", 7001, Ending::kExited, 255, 0.5,
          "{\"event\":\"connected\",\"attempt\":1}\n"
          "{\"event\":\"result\",\"status\":-1,\"flashed\":false,\"failure\":\"no-device\"}\n"),
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
      "  \"info\": false,\n"
      "  \"verify\": false,\n"
      "  \"interrupted\": true,\n"
      "  \"flashed\": 1,\n"
      "  \"skipped\": 0,\n"
      "  \"answered\": 0,\n"
      "  \"failed\": 1,\n"
      "  \"not_started\": 1,\n"
      "  \"exit_status\": 1,\n"
      "  \"boards\": [\n"
      "    {\"board\": \"127.0.0.1:7000\", \"address\": \"127.0.0.1\", \"port\": 7000, "
      "\"flashed\": true, \"skipped\": false, \"verified\": false, \"exit_status\": 0, \"ending\": "
      "\"exited\", \"verdict\": \"flashed\", "
      "\"phase\": \"closing\", \"failure\": null, \"percent_sent\": 100, "
      "\"mode\": 1, \"application_version\": \"SIM01\", "
      "\"loader_version\": \"Close ok \\\"L\\\\1\\u0000\\r\\n\\u00e9\\u00ff\", "
      "\"application_version_after\": null, "
      "\"seconds\": 2.250, \"log\": \"127.0.0.1_7000.log\", "
      "\"events_log\": \"127.0.0.1_7000.events.jsonl\", \"stderr_log\": null, \"log_complete\": "
      "true},\n"
      "    {\"board\": \"127.0.0.1:7001\", \"address\": \"127.0.0.1\", \"port\": 7001, "
      "\"flashed\": false, \"skipped\": false, \"verified\": false, \"exit_status\": 255, "
      "\"ending\": \"exited\", \"verdict\": "
      "\"failed: no device answered (while connected)\", \"phase\": \"connected\", "
      "\"failure\": \"no-device\", \"percent_sent\": null, \"mode\": null, "
      "\"application_version\": null, \"loader_version\": null, "
      "\"application_version_after\": null, \"seconds\": 0.500, \"log\": \"127.0.0.1_7001.log\", "
      "\"events_log\": \"127.0.0.1_7001.events.jsonl\", \"stderr_log\": null, \"log_complete\": "
      "true},\n"
      "    {\"board\": \"10.0.0.9:6666\", \"address\": \"10.0.0.9\", \"port\": 6666, "
      "\"flashed\": false, \"skipped\": false, \"verified\": false, \"exit_status\": null, "
      "\"ending\": \"not started\", \"verdict\": "
      "\"not started: the run was stopped first\", \"phase\": \"waiting\", \"failure\": null, "
      "\"percent_sent\": null, \"mode\": null, \"application_version\": null, "
      "\"loader_version\": null, \"application_version_after\": null, "
      "\"seconds\": null, \"log\": null, \"events_log\": null, \"stderr_log\": null, "
      "\"log_complete\": true}\n"
      "  ]\n"
      "}\n");
}

// A board whose record lost bytes fails the run, flashed or not; paths of
// any bytes stay valid UTF-8.
TEST(ReportTest, IncompleteRecordsAndForeignBytes) {
  static BoardState boards[2];
  boards[0] = boards[1] = kBoards[0];
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

// A run with --verify: one board verified, one left as it was, one that did
// not come back.
TEST(ReportTest, VerifiedAndSkippedBoards) {
  const char* kResult =
      "{\"event\":\"result\",\"status\":%d,\"flashed\":%s,\"failure\":%s,"
      "\"skipped\":%s,\"application_version_after\":%s}\n";
  char verified[256], skipped[256], gone[256];
  std::snprintf(verified, sizeof verified, kResult, 0, "true", "null", "false", "\"V2\\u0007\"");
  std::snprintf(skipped, sizeof skipped, kResult, 0, "false", "null", "true", "null");
  std::snprintf(gone, sizeof gone, kResult, 2, "false", "\"boot\"", "false", "null");
  static BoardState boards[3];
  boards[0] = Ended("127.0.0.1", 7000, Ending::kExited, 0, 9, verified);
  boards[1] = Ended("127.0.0.1", 7001, Ending::kExited, 0, 1,
                    "{\"event\":\"version\",\"of\":\"application\",\"text\":\"V2\"}\n");
  TakeEvents(&boards[1], skipped);
  DecideVerdict(&boards[1], 0, "");
  boards[2] = Ended("127.0.0.1", 7002, Ending::kExited, 2, 70, gone);
  EXPECT_STREQ(boards[0].verdict, "flashed, runs version V2.");
  EXPECT_STREQ(boards[1].verdict, "skipped: already runs version V2");
  EXPECT_STREQ(boards[2].verdict, "failed: did not start its application (while connecting)");

  FILE* file = std::tmpfile();
  PrintResultTable(file, boards, 3);
  const std::string table = Captured(file);
  EXPECT_NE(table.find("\n3 boards: 1 flashed, 1 skipped, 1 failed, 0 not started\n"),
            std::string::npos)
      << table;

  RunFacts facts;
  facts.verify = true;
  file = std::tmpfile();
  ASSERT_EQ(WriteJsonReport(file, facts, boards, 3), 0);
  const std::string json = Captured(file);
  for (const char* part : {
           "\"flashed\": 1,\n  \"skipped\": 1,\n  \"answered\": 0,\n  \"failed\": 1,\n"
           "  \"not_started\": 0,\n  \"exit_status\": 1,",
           "\"port\": 7000, \"flashed\": true, \"skipped\": false, \"verified\": true,",
           "\"application_version_after\": \"V2\\u0007\"",
           "\"port\": 7001, \"flashed\": false, \"skipped\": true, \"verified\": false,",
           "\"port\": 7002, \"flashed\": false, \"skipped\": false, \"verified\": false, "
           "\"exit_status\": 2,",
           "\"failure\": \"boot\"",
       }) {
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  }
}

TEST(ReportTest, AnInfoRunShowsModeAndVersion) {
  static BoardState boards[3];
  boards[0] = Ended("127.0.0.1", 7000, Ending::kExited, 0, 0.25,
                    "{\"event\":\"mode\",\"mode\":1}\n"
                    "{\"event\":\"version\",\"of\":\"application\",\"text\":\"APP\\n1\"}\n");
  boards[1] = Ended("127.0.0.1", 7001, Ending::kExited, 0, 0.5,
                    "{\"event\":\"mode\",\"mode\":2}\n"
                    "{\"event\":\"version\",\"of\":\"loader\",\"text\":\"SIM-LOADER 1.0\"}\n");
  boards[2] = Ended("127.0.0.1", 7002, Ending::kExited, 1, 5,
                    "{\"event\":\"result\",\"status\":1,\"failure\":\"connect\"}\n");
  for (BoardState& b : boards) {
    b.info = true;
    DecideVerdict(&b, 0, "");
  }
  FILE* file = std::tmpfile();
  PrintResultTable(file, boards, 3);
  EXPECT_EQ(Captured(file),
            "board                  exit  mode  version         verdict"
            "                                       time\n"
            "127.0.0.1:7000            0     1  APP.1           answered"
            "                                     0.2 s\n"
            "127.0.0.1:7001            0     2  SIM-LOADER 1.0  answered"
            "                                     0.5 s\n"
            "127.0.0.1:7002            1     -  -               failed: no connection (while "
            "connecting)     5.0 s\n"
            "3 boards: 2 answered, 1 failed, 0 not started\n");
  RunFacts facts;
  facts.imagePath = nullptr;
  file = std::tmpfile();
  ASSERT_EQ(WriteJsonReport(file, facts, boards, 3), 0);
  const std::string json = Captured(file);
  const char* kLoaderBoard =
      "\"mode\": 2, \"application_version\": null, \"loader_version\": \"SIM-LOADER 1.0\"";
  for (const char* part :
       {"{\n  \"image\": null,\n", "\"board_timeout_s\": null,", "\"info\": true,",
        "\"answered\": 2,", "\"exit_status\": 1,", kLoaderBoard}) {
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  }
}

}  // namespace

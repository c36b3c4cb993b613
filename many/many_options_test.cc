#include "many/many_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/testutil.h"

namespace {

// The parse's result with the option texts copied: they point into the
// arguments, which end with Parse.
struct Parsed {
  int result;
  ManyOptions options;
  std::vector<std::string> boards;
  std::string complaint;
  std::string image, logDir, report, boardsFile, expectVersion;
};

std::string Text(const char* value) { return value != nullptr ? value : "(none)"; }

Parsed Parse(std::vector<std::string> args) {
  CommandLine line("tcpflash-many", std::move(args));
  Parsed p{};
  FILE* err = std::tmpfile();
  EXPECT_NE(err, nullptr);
  if (err == nullptr) return p;
  p.result = ParseManyOptions(line.argc(), line.argv(), &p.options, err);
  p.complaint = StreamText(err);
  std::fclose(err);
  for (int i = 0; i < p.options.boardCount; ++i) p.boards.emplace_back(p.options.boards[i]);
  p.image = Text(p.options.imagePath);
  p.logDir = Text(p.options.logDir);
  p.report = Text(p.options.reportPath);
  p.boardsFile = Text(p.options.boardsFile);
  p.expectVersion = Text(p.options.proof.expectVersion);
  p.options.imagePath = p.options.logDir = p.options.reportPath = p.options.boardsFile = nullptr;
  p.options.proof.expectVersion = nullptr;
  for (const char*& board : p.options.boards) board = nullptr;
  return p;
}

TEST(ManyOptionsTest, OptionsAndBoardsInAnyOrder) {
  const Parsed p =
      Parse({"17", "--jobs", "2", "--image", "fw.bin", "127.0.0.1:7000", "--log-dir", "logs",
             "--report", "r.json", "--boards", "tray.txt", "--board-timeout", "90", "--", "--odd"});
  ASSERT_EQ(p.result, 0) << p.complaint;
  EXPECT_EQ(p.boards, (std::vector<std::string>{"17", "127.0.0.1:7000", "--odd"}));
  EXPECT_EQ(p.options.jobs, 2);
  EXPECT_EQ(p.image, "fw.bin");
  EXPECT_EQ(p.logDir, "logs");
  EXPECT_EQ(p.report, "r.json");
  EXPECT_EQ(p.boardsFile, "tray.txt");
  EXPECT_EQ(p.options.boardTimeoutS, 90);
  EXPECT_EQ(p.complaint, "");
}

TEST(ManyOptionsTest, OptionsOfTheProof) {
  Parsed p = Parse({"--verify", "17", "--boot-timeout", "5", "--expect-version", "V 2.0",
                    "--skip-current", "--ready-timeout", "900"});
  ASSERT_EQ(p.result, 0) << p.complaint;
  EXPECT_TRUE(p.options.proof.verify && p.options.proof.skipCurrent);
  EXPECT_FALSE(p.options.info);
  EXPECT_EQ(p.options.proof.bootTimeoutS, 5);
  EXPECT_EQ(p.options.proof.readyTimeoutS, 900);
  EXPECT_EQ(p.expectVersion, "V 2.0");
  p = Parse({"--info", "17", "--jobs", "3", "--board-timeout", "30"});
  ASSERT_EQ(p.result, 0) << p.complaint;
  EXPECT_TRUE(p.options.info);
  EXPECT_EQ(p.options.boardTimeoutS, 30);
}

TEST(ManyOptionsTest, Defaults) {
  const Parsed p = Parse({"17"});
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.image, "image.uncompressed");
  EXPECT_EQ(p.options.jobs, 0);
  EXPECT_EQ(p.logDir, "(none)");
  EXPECT_EQ(p.report, "(none)");
  EXPECT_EQ(p.boardsFile, "(none)");
  EXPECT_EQ(p.options.boardTimeoutS, 0) << "no board time-out unless given";
  EXPECT_FALSE(p.options.proof.verify || p.options.proof.skipCurrent || p.options.info);
  EXPECT_EQ(p.expectVersion, "(none)");
  EXPECT_EQ(p.options.proof.bootTimeoutS, 0);
  EXPECT_EQ(p.options.proof.readyTimeoutS, 0);
  EXPECT_FALSE(p.options.help);
  EXPECT_TRUE(Parse({"--help"}).options.help);
  EXPECT_TRUE(Parse({"-h"}).options.help);
  EXPECT_TRUE(Parse({"--version"}).options.version);
}

TEST(ManyOptionsTest, BadUsageTable) {
  const struct {
    std::vector<std::string> args;
    std::string first;  // first line of the complaint
  } kCases[] = {
      {{"--verbose", "17"}, "tcpflash-many: unknown option --verbose"},
      {{"-j", "2"}, "tcpflash-many: unknown option -j"},
      {{"17", "--jobs"}, "tcpflash-many: missing value for --jobs"},
      {{"--image", "", "17"}, "tcpflash-many: missing value for --image"},
      {{"--jobs", "0", "17"}, "tcpflash-many: --jobs takes a number 1-256, not 0"},
      {{"--jobs", "257", "17"}, "tcpflash-many: --jobs takes a number 1-256, not 257"},
      {{"--jobs", "2x", "17"}, "tcpflash-many: --jobs takes a number 1-256, not 2x"},
      {{"--jobs", "-1", "17"}, "tcpflash-many: --jobs takes a number 1-256, not -1"},
      {{"--board-timeout", "0"}, "tcpflash-many: --board-timeout takes seconds 1-86400, not 0"},
      {{"--image", "a", "--image", "b"}, "tcpflash-many: option given twice: --image"},
      {{"--verify", "--verify", "17"}, "tcpflash-many: option given twice: --verify"},
      {{"--boot-timeout", "0", "17"}, "tcpflash-many: --boot-timeout takes seconds 1-86400, not 0"},
      {{"--ready-timeout", "86401", "17"},
       "tcpflash-many: --ready-timeout takes seconds 1-86400, not 86401"},
      {{"--skip-current", "17"}, "tcpflash-many: --skip-current needs --expect-version"},
      {{"--expect-version", "V 2.01", "17"},
       "tcpflash-many: --expect-version takes at most 5 characters, not V 2.01"},
      {{"--info", "--image", "fw.bin", "17"},
       "tcpflash-many: --info changes nothing and takes no --image"},
      {{"--info", "--verify", "17"}, "tcpflash-many: --info changes nothing and takes no --verify"},
      {{"--info", "--expect-version", "2", "17"},
       "tcpflash-many: --info changes nothing and takes no --expect-version"},
      {{"--ready-timeout", "5", "--info", "17"},
       "tcpflash-many: --info changes nothing and takes no --ready-timeout"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.first);
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.result, MANY_EXIT_USAGE);
    EXPECT_EQ(p.complaint.substr(0, p.complaint.find('\n')), c.first);
    EXPECT_NE(p.complaint.find("usage: tcpflash-many"), std::string::npos);
  }
}

TEST(ManyOptionsTest, AtMostMaxBoards) {
  std::vector<std::string> args(MAX_BOARDS, "17");
  EXPECT_EQ(Parse(args).result, 0);
  args.emplace_back("18");
  const Parsed p = Parse(args);
  EXPECT_EQ(p.result, MANY_EXIT_USAGE);
  EXPECT_EQ(p.complaint.substr(0, p.complaint.find('\n')),
            "tcpflash-many: more than 256 boards, from 18");
}

}  // namespace

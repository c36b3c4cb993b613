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
  std::string image, logDir, report, boardsFile;
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
  p.options.imagePath = p.options.logDir = p.options.reportPath = p.options.boardsFile = nullptr;
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

TEST(ManyOptionsTest, Defaults) {
  const Parsed p = Parse({"17"});
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.image, "image.uncompressed");
  EXPECT_EQ(p.options.jobs, 0);
  EXPECT_EQ(p.logDir, "(none)");
  EXPECT_EQ(p.report, "(none)");
  EXPECT_EQ(p.boardsFile, "(none)");
  EXPECT_EQ(p.options.boardTimeoutS, 600);
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

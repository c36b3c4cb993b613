#include "many/run_paths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A folder of its own holding the image v.bin, the board file tray.txt and
// the log folder logs/ with an old log of board 127.0.0.1:7000.
class RunPathsTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    base_ = fs::temp_directory_path() / ("tcpflash-run-paths-" + std::to_string(stamp));
    fs::create_directories(base_ / "logs");
    Touch("v.bin");
    Touch("tray.txt");
    Touch("logs/127.0.0.1_7000.log");
    char why[BOARD_ERROR_SIZE];
    ASSERT_EQ(AddBoard(&boards_, "127.0.0.1:7000", why), 0);
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(base_, error);
  }

  std::string Path(const std::string& relative) const { return (base_ / relative).string(); }
  void Touch(const std::string& relative) const {
    FILE* file = std::fopen(Path(relative).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("x", file);
    std::fclose(file);
  }

  // Checks the run with these paths (relative to the folder). Returns the
  // reason, "" when the paths were taken.
  std::string Check(const std::string& image, const std::string& logDir,
                    const std::string& report) {
    const std::string imagePath = Path(image);
    const std::string boardsPath = Path("tray.txt");
    const std::string logPath = Path(logDir);
    const std::string reportPath = Path(report);
    const std::string tempPath = reportPath + REPORT_TEMP_SUFFIX;
    RunPaths paths;
    paths.image = imagePath.c_str();
    paths.boardsFile = boardsPath.c_str();
    paths.logDir = logPath.c_str();
    paths.report = reportPath.c_str();
    paths.reportTemp = tempPath.c_str();
    char why[RUN_PATHS_ERROR_SIZE] = "";
    const int result = CheckRunPaths(paths, boards_, why);
    EXPECT_EQ(result == 0, why[0] == '\0') << why;
    return why;
  }

  fs::path base_;
  BoardList boards_;
};

TEST_F(RunPathsTest, OutputsNeverOverlapInputs) {
  const struct {
    const char* image;
    const char* logDir;
    const char* report;
    const char* refusal;  // part of the reason; "" when taken
  } kCases[] = {
      {"v.bin", "logs", "logs/report.json", ""},
      {"v.bin", "new/logs", "out/r.json", ""},
      {"v.bin", "logs", "logs/127.0.0.1_7001.log", ""},  // no board's
      {"v.bin", "logs", "v.bin", "the report "},
      {"v.bin", "logs", "logs/../v.bin", "would overwrite the image "},
      {"v.bin", "logs", "v.bin/r.json", "lies inside the image"},
      {"v.bin", "logs", "tray.txt", "would overwrite the board file"},
      {"v.bin", "logs", "logs", "is a folder"},
      {"v.bin", "logs", ".", "is a folder"},
      {"v.bin", "new", "new", "is a folder"},  // made later
      {"v.bin", "v.bin", "r.json", "the log folder "},
      {"v.bin", "v.bin/logs", "r.json", "lies inside the image"},
      {"v.bin", "logs", "logs/127.0.0.1_7000.log", "is the record 127.0.0.1_7000.log of board"},
      {"v.bin", "logs/", "logs/./127.0.0.1_7000.stderr.log",
       "is the record 127.0.0.1_7000.stderr.log of board 127.0.0.1:7000"},
      {"v.bin", "logs", "logs/127.0.0.1_7000.events.jsonl",
       "is the record 127.0.0.1_7000.events.jsonl of board"},
      {"logs/127.0.0.1_7000.log", "logs", "r.json", "the image "},
      {"v.bin", "logs", "v", ""},
      {"v.bin", "logs", "v.bin.json", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.image) + " " + c.logDir + " " + c.report);
    const std::string why = Check(c.image, c.logDir, c.report);
    if (c.refusal[0] == '\0') {
      EXPECT_EQ(why, "");
    } else {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
    }
  }
}

TEST_F(RunPathsTest, TheTemporaryReportCountsToo) {
  Touch("r.json.partial");
  EXPECT_NE(Check("r.json.partial", "logs", "r.json").find("the report's temporary file"),
            std::string::npos);
}

TEST_F(RunPathsTest, OtherNamesOfTheImage) {
  std::error_code error;
  fs::create_hard_link(base_ / "v.bin", base_ / "hard.json", error);
  if (!error) {
    EXPECT_NE(Check("v.bin", "logs", "hard.json").find("would overwrite the image"),
              std::string::npos);
  }
  fs::create_symlink(base_ / "v.bin", base_ / "soft.json", error);
  if (!error) {
    EXPECT_NE(Check("v.bin", "logs", "soft.json").find("would overwrite the image"),
              std::string::npos);
  }
  fs::create_directory_symlink(base_ / "v.bin", base_ / "dir", error);
  if (!error) {
    EXPECT_NE(Check("v.bin", "dir/logs", "r.json").find("lies inside the image"),
              std::string::npos);
  }
}

}  // namespace

#include "driver/tool_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/testutil.h"

namespace {

// The option pointers point into the parsed arguments, which end with
// Parse: what they point at is copied out before.
struct Parsed {
  int result;
  ToolOptions options;
  std::string imagePath;
  std::string eventsPath;
  std::vector<std::string> positional;
  std::string complaint;
};

Parsed Parse(std::vector<std::string> args) {
  CommandLine line("tcpflash", std::move(args));
  Parsed p{};
  testing::internal::CaptureStderr();
  p.result = ParseToolOptions(line.argc(), line.argv(), &p.options);
  p.complaint = testing::internal::GetCapturedStderr();
  p.imagePath = p.options.imagePath;
  p.eventsPath = p.options.eventsPath != nullptr ? p.options.eventsPath : "(none)";
  const int kept = std::min(p.options.positionalCount, POSITIONAL_KEPT);
  for (int i = 1; i < kept; ++i) p.positional.emplace_back(p.options.positional[i]);
  return p;
}

TEST(ToolOptionsTest, OptionsStandAnywhereAndNeverCountAsArguments) {
  const Parsed p =
      Parse({"--progress", "on", "127.0.0.1", "--image", "fw.bin", "7000", "--events", "-"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.eventsPath, "-");
  EXPECT_EQ(p.positional, (std::vector<std::string>{"127.0.0.1", "7000"}));
  EXPECT_EQ(p.options.positionalCount, 3);
  EXPECT_EQ(p.imagePath, "fw.bin");
  EXPECT_EQ(p.options.progress, ProgressMode::kOn);
}

TEST(ToolOptionsTest, Defaults) {
  const Parsed p = Parse({});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.imagePath, "image.uncompressed");
  EXPECT_EQ(p.options.progress, ProgressMode::kAuto);
  EXPECT_FALSE(p.options.help);
  EXPECT_EQ(p.options.positionalCount, 1);
}

TEST(ToolOptionsTest, HelpVersionAndPositionalLookalikes) {
  for (const char* help : {"-h", "--help", "/?"}) EXPECT_TRUE(Parse({help}).options.help) << help;
  EXPECT_TRUE(Parse({"--version"}).options.version);
  // A negative number is a port, and "--" ends the options.
  EXPECT_EQ(Parse({"1.2.3.4", "-5"}).positional, (std::vector<std::string>{"1.2.3.4", "-5"}));
  EXPECT_EQ(Parse({"--", "--help"}).positional, (std::vector<std::string>{"--help"}));
}

TEST(ToolOptionsTest, ManyArgumentsAreCountedButOnlyTheFirstKept) {
  const Parsed p = Parse({"a", "b", "c", "d", "e"});
  EXPECT_EQ(p.options.positionalCount, 6);
  EXPECT_EQ(p.positional, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(ToolOptionsTest, BadUsageIsNamed) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--imgae", "x"}, "tcpflash: unknown option --imgae\n"},
      {{"-x"}, "tcpflash: unknown option -x\n"},
      {{"--image"}, "tcpflash: missing value for --image\n"},
      {{"--image", ""}, "tcpflash: missing value for --image\n"},
      {{"--events"}, "tcpflash: missing value for --events\n"},
      {{"--progress", "sometimes"}, "tcpflash: --progress takes auto, on or off, not sometimes\n"},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.first);
    EXPECT_EQ(p.result, 1) << c.second;
    EXPECT_EQ(p.complaint.substr(0, c.second.size()), c.second);
    EXPECT_NE(p.complaint.find("usage: tcpflash"), std::string::npos);
  }
}

}  // namespace

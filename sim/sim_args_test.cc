#include "sim/sim_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int Parse(std::vector<const char*> args, SimOptions* options) {
  args.insert(args.begin(), "tcpflash-sim");
  return ParseSimArgs(static_cast<int>(args.size()), args.data(), options);
}

TEST(SimArgsTest, EveryStepNameParsesBackToItself) {
  const Step steps[] = {Step::kAppQuery,    Step::kAppVersion,    Step::kAppStart,
                        Step::kLoaderQuery, Step::kLoaderVersion, Step::kResetFlashdata,
                        Step::kData,        Step::kSetOffset,     Step::kStartFlash,
                        Step::kState,       Step::kReset,         Step::kClose};
  for (Step step : steps) {
    StepAt at;
    ASSERT_EQ(ParseStepAt(StepName(step), &at), 0) << StepName(step);
    EXPECT_EQ(at.step, step);
    EXPECT_EQ(at.occurrence, 1);
    const std::string counted = std::string(StepName(step)) + ":12";
    ASSERT_EQ(ParseStepAt(counted.c_str(), &at), 0) << counted;
    EXPECT_EQ(at.step, step);
    EXPECT_EQ(at.occurrence, 12);
  }
  for (const char* bad : {"", "dat", "data:", "data:0", "data:-1", "data:2x", "unknown", "none"}) {
    StepAt at;
    EXPECT_EQ(ParseStepAt(bad, &at), -1) << bad;
  }
}

TEST(SimArgsTest, OptionsAreTaken) {
  SimOptions o;
  ASSERT_EQ(
      Parse({"--port",      "4000",        "--mode",     "255",         "--busy", "3",
             "--image-out", "img.bin",     "--once",     "--timeout",   "5",      "--refuse",
             "reset",       "--silent-at", "state:2",    "--hangup-at", "data:7", "--bad-state",
             "--no-loader", "--stay-app",  "--fragment", "--delay",     "20",     "--quiet"},
            &o),
      0);
  EXPECT_EQ(o.port, 4000);
  EXPECT_EQ(o.mode, 255);
  EXPECT_EQ(o.busy, 3);
  EXPECT_STREQ(o.imageOut, "img.bin");
  EXPECT_EQ(o.timeoutMs, 5000);
  EXPECT_EQ(o.refuse.step, Step::kReset);
  EXPECT_EQ(o.silentAt.step, Step::kState);
  EXPECT_EQ(o.silentAt.occurrence, 2);
  EXPECT_EQ(o.hangupAt.step, Step::kData);
  EXPECT_EQ(o.hangupAt.occurrence, 7);
  EXPECT_EQ(o.delayMs, 20);
  EXPECT_TRUE(o.once && o.badState && o.noLoader && o.stayApp && o.fragment && o.quiet);
}

TEST(SimArgsTest, BadCommandLinesAreRefused) {
  const std::vector<std::vector<const char*>> bad = {
      {"--port"},           {"--port", "65536"}, {"--port", "x"},      {"--mode", "256"},
      {"--mode", "-1"},     {"--timeout", "0"},  {"--refuse", "data"}, {"--refuse", "close"},
      {"--silent-at", "q"}, {"--frobnicate"},    {"--delay", "10ms"},
  };
  for (const auto& args : bad) {
    SimOptions o;
    EXPECT_EQ(Parse(args, &o), -1) << args[0];
  }
  SimOptions o;
  EXPECT_EQ(Parse({"--help"}, &o), 1);
}

}  // namespace

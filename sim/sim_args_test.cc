#include "sim/sim_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/testutil.h"

namespace {

int Parse(std::vector<std::string> args, SimOptions* options) {
  CommandLine line("tcpflash-sim", std::move(args));
  return ParseSimArgs(line.argc(), line.argv(), options);
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
  // Held here: the image path points into it.
  CommandLine line(
      "tcpflash-sim",
      {"--port",      "4000",        "--mode",     "255",         "--busy", "3",
       "--image-out", "img.bin",     "--once",     "--timeout",   "5",      "--refuse",
       "reset",       "--silent-at", "state:2",    "--hangup-at", "data:7", "--bad-state",
       "--no-loader", "--stay-app",  "--fragment", "--delay",     "20",     "--quiet"});
  ASSERT_EQ(ParseSimArgs(line.argc(), line.argv(), &o), 0);
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

TEST(SimArgsTest, NewFaultsStartOffAndAreTaken) {
  const SimOptions d;
  EXPECT_EQ(d.resetAt.step, Step::kNone);
  EXPECT_EQ(d.babbleAt.step, Step::kNone);
  EXPECT_EQ(d.trickleAt.step, Step::kNone);
  EXPECT_EQ(d.stallAt.step, Step::kNone);
  EXPECT_EQ(d.trickleMs, 1000);
  EXPECT_EQ(d.stallMs, 0) << "a stall lasts for good unless timed";
  EXPECT_FALSE(d.ackEverything || d.blackhole || d.blackholeAfterSwitch);
  EXPECT_EQ(d.eraseMs, 0);
  EXPECT_EQ(d.linkKbps, 0);
  EXPECT_EQ(d.rebootMs, 1000);
  EXPECT_EQ(d.newVersion, nullptr) << "the version reported before the restart";
  EXPECT_FALSE(d.busyForever || d.noBoot || d.bootIntoLoader || d.untilBoot);

  // Each option alone, with the field it must set: the options share tables,
  // so a row taken by the wrong field shows here.
  struct StepCase {
    const char* option;
    StepAt SimOptions::*field;
  };
  const StepCase steps[] = {{"--reset-at", &SimOptions::resetAt},
                            {"--babble-at", &SimOptions::babbleAt},
                            {"--trickle-at", &SimOptions::trickleAt},
                            {"--stall-at", &SimOptions::stallAt}};
  for (const StepCase& c : steps) {
    SimOptions o;
    ASSERT_EQ(Parse({c.option, "loader-version:3"}, &o), 0) << c.option;
    EXPECT_EQ((o.*c.field).step, Step::kLoaderVersion) << c.option;
    EXPECT_EQ((o.*c.field).occurrence, 3) << c.option;
    for (const StepCase& other : steps) {
      if (other.field != c.field) {
        EXPECT_EQ((o.*other.field).step, Step::kNone) << c.option;
      }
    }
  }
  struct IntCase {
    const char* option;
    const char* value;
    int SimOptions::*field;
    int want;
  };
  const IntCase ints[] = {{"--trickle-ms", "1", &SimOptions::trickleMs, 1},
                          {"--stall-ms", "70000", &SimOptions::stallMs, 70000},
                          {"--erase-ms", "0", &SimOptions::eraseMs, 0},
                          {"--erase-ms", "2500", &SimOptions::eraseMs, 2500},
                          {"--flash-ms-per-mb", "800", &SimOptions::flashMsPerMb, 800},
                          {"--link-kbps", "12500", &SimOptions::linkKbps, 12500},
                          {"--reboot-ms", "0", &SimOptions::rebootMs, 0},
                          {"--reboot-ms", "600000", &SimOptions::rebootMs, 600000}};
  for (const IntCase& c : ints) {
    SimOptions o;
    ASSERT_EQ(Parse({c.option, c.value}, &o), 0) << c.option;
    EXPECT_EQ(o.*c.field, c.want) << c.option;
  }
  struct FlagCase {
    const char* option;
    bool SimOptions::*field;
  };
  const FlagCase flags[] = {{"--ack-everything", &SimOptions::ackEverything},
                            {"--blackhole", &SimOptions::blackhole},
                            {"--blackhole-after-switch", &SimOptions::blackholeAfterSwitch},
                            {"--busy-forever", &SimOptions::busyForever},
                            {"--no-boot", &SimOptions::noBoot},
                            {"--boot-into-loader", &SimOptions::bootIntoLoader},
                            {"--until-boot", &SimOptions::untilBoot}};
  for (const FlagCase& c : flags) {
    SimOptions o;
    ASSERT_EQ(Parse({c.option}, &o), 0) << c.option;
    for (const FlagCase& other : flags) EXPECT_EQ(o.*other.field, other.field == c.field);
  }
}

TEST(SimArgsTest, LoaderVersionTextTakesByteEscapes) {
  const SimOptions d;
  EXPECT_EQ(std::string(d.loaderVersion, static_cast<size_t>(d.loaderVersionLength)),
            "SIM-LOADER 1.0");
  const struct {
    const char* arg;
    bool taken;
    std::string text;
  } kCases[] = {
      {"", true, ""},
      {"Close ok", true, "Close ok"},
      {"a\\\\b\\x22\\x0d\\x0A\\x80\\xfF", true, "a\\b\"\r\n\x80\xff"},
      {"a\\x00b", true, std::string("a\0b", 3)},
      {"\\x1", false, ""},
      {"\\xg0", false, ""},
      {"\\n", false, ""},
      {"end\\", false, ""},
      {"123456789012345678901234567890123456789012345", true,
       "123456789012345678901234567890123456789012345"},
      {"1234567890123456789012345678901234567890123456", false, ""},
  };
  for (const auto& c : kCases) {
    SimOptions o;
    ASSERT_EQ(Parse({"--loader-version", c.arg}, &o), c.taken ? 0 : -1) << c.arg;
    if (c.taken) {
      EXPECT_EQ(std::string(o.loaderVersion, static_cast<size_t>(o.loaderVersionLength)), c.text)
          << c.arg;
    }
  }
}

TEST(SimArgsTest, RestartOptionsAreTaken) {
  SimOptions o;
  // Held here: the version text points into it.
  CommandLine line("tcpflash-sim", {"--until-boot", "--new-version", "ABCDE"});
  ASSERT_EQ(ParseSimArgs(line.argc(), line.argv(), &o), 0);
  EXPECT_TRUE(o.once) << "--until-boot works through --once";
  EXPECT_TRUE(o.untilBoot);
  EXPECT_STREQ(o.newVersion, "ABCDE");
  SimOptions plain;
  ASSERT_EQ(Parse({"--once"}, &plain), 0);
  EXPECT_FALSE(plain.untilBoot) << "plain --once ends behind the close";
}

TEST(SimArgsTest, BadCommandLinesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port"},
      {"--port", "65536"},
      {"--port", "x"},
      {"--mode", "256"},
      {"--mode", "-1"},
      {"--timeout", "0"},
      {"--refuse", "data"},
      {"--refuse", "close"},
      {"--silent-at", "q"},
      {"--frobnicate"},
      {"--frobnicate", "1"},
      {"--delay", "10ms"},
      {"--reset-at", "unknown"},
      {"--babble-at"},
      {"--trickle-at", "state:0"},
      {"--stall-at", "data:"},
      {"--trickle-ms", "0"},
      {"--stall-ms", "0"},
      {"--erase-ms", "-5"},
      {"--link-kbps", "0"},
      {"--blackhole-after"},
      {"--ack-everything", "--stall-ms"},
      {"--reboot-ms", "-1"},
      {"--reboot-ms", "600001"},
      {"--new-version"},
      {"--new-version", ""},
      {"--new-version", "ABCDEF"},
      {"--no-boot", "--boot-into-loader"},
      {"--boot-into-loader", "--until-boot", "--no-boot"},
  };
  for (const auto& args : bad) {
    SimOptions o;
    EXPECT_EQ(Parse(args, &o), -1) << args[0];
  }
  SimOptions o;
  EXPECT_EQ(Parse({"--help"}, &o), 1);
  EXPECT_EQ(Parse({"--blackhole", "-h"}, &o), 1);
}

}  // namespace

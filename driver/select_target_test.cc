#include "driver/select_target.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/testutil.h"

namespace {

struct Selection {
  int result;
  std::string address;
  int port;
  std::string printed;
};

// Runs SelectTarget on args (program name first) with typed as the input.
Selection Select(const std::vector<std::string>& args, const std::string& typed) {
  CommandLine line(args[0].c_str(), std::vector<std::string>(args.begin() + 1, args.end()));
  FILE* input = TempFileWith(typed);
  EXPECT_NE(input, nullptr);
  if (input == nullptr) return Selection{-99, "", -99, ""};
  char address[ADDRESS_TEXT_SIZE] = "";
  int port = -7;
  testing::internal::CaptureStdout();
  const int result = SelectTarget(line.argc(), line.argv(), input, address, &port);
  Selection s{result, address, port, testing::internal::GetCapturedStdout()};
  std::fclose(input);
  return s;
}

TEST(SelectTargetTest, Table) {
  const std::string prompt = "IP Adresse: ";
  struct Case {
    std::vector<std::string> args;
    std::string typed;
    int result;
    std::string address;
    int port;
    std::string printed;
  };
  const Case cases[] = {
      // Words of 4 to 6 characters bring the prompt back.
      {{"t"}, "10.1\n10.0.1 7\n", 0, "7", 6666, prompt + prompt + prompt},
      {{"t"}, "  1.2.3.4\n", 0, "1.2.3.4", 6666, prompt},
      {{"t", "a", "b", "c"}, "127.0.0.1", 0, "127.0.0.1", 6666, prompt},
      {{"t", "abcd"}, "", 0, "abcd", 6666, ""},
      {{"t", "17"}, "", 0, "17", 6666, ""},
      {{"t", "1.2.3.4", "7001"}, "", 0, "1.2.3.4", 7001, ""},
      {{"t", "1.2.3.4", "65535"}, "", 0, "1.2.3.4", 65535, ""},
      // A port that is no port is refused, not connected to some other port.
      {{"t", "1.2.3.4", "abc"}, "", 1, "", 0, "Invalid port abc: a port is 1 to 65535\n"},
      {{"t", "1.2.3.4", "72202"}, "", 1, "", 0, "Invalid port 72202: a port is 1 to 65535\n"},
      {{"t", "1.2.3.4", "6666x"}, "", 1, "", 0, "Invalid port 6666x: a port is 1 to 65535\n"},
      {{"t", "1.2.3.4", "123456789012345678901234"},
       "",
       1,
       "",
       0,
       "Invalid port 12345678901234567890...: a port is 1 to 65535\n"},
      {{"t", "12345678901234567890"}, "", 0, "12345678901234567890", 6666, ""},
      // Too long for the endpoint: refused before anything touches the network.
      {{"t", "123456789012345678901"},
       "",
       1,
       "",
       6666,
       "Address too long: at most 20 characters\n"},
      {{"t"},
       std::string(300, 'x') + " 127.0.0.1\n",
       0,
       "127.0.0.1",
       6666,
       prompt + "Address too long: at most 20 characters\n" + prompt},
      // End of input: an orderly stop instead of an endless prompt.
      {{"t"}, "", 2, "", 6666, prompt + "\nNo address entered: end of input\n"},
      {{"t"},
       "1234 abcde\n",
       2,
       "abcde",
       6666,
       prompt + prompt + prompt + "\nNo address entered: end of input\n"},
  };
  for (const Case& c : cases) {
    const Selection s = Select(c.args, c.typed);
    SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : c.typed.substr(0, 20));
    EXPECT_EQ(s.result, c.result);
    if (c.result == 0) {
      EXPECT_EQ(s.address, c.address);
      EXPECT_EQ(s.port, c.port);
    }
    EXPECT_EQ(s.printed, c.printed);
  }
}

TEST(ParsePortTest, DecimalDigitsOneTo65535AndNothingElse) {
  const std::pair<const char*, int> cases[] = {
      {"1", 1},        {"6666", 6666}, {"65535", 65535},
      {"06666", 6666}, {"0", -1},      {"00000", -1},
      {"65536", -1},   {"72202", -1},  {"99999999999999999999", -1},
      {"", -1},        {"6666x", -1},  {"+6666", -1},
      {" 6666", -1},   {"6666 ", -1},  {"-1", -1},
      {"0x1a0a", -1},  {"6e3", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParsePort(c.first), c.second) << "\"" << c.first << "\"";
  }
}

TEST(CompleteAddressTest, OnlyTheLengthCounts) {
  const std::pair<std::string, std::string> cases[] = {
      {"5", "192.168.14.5"},      {"17", "192.168.14.17"}, {"254", "192.168.14.254"},
      {"abc", "192.168.14.abc"},  {"abcd", "abcd"},        {"1.2.3.4", "1.2.3.4"},
      {"127.0.0.1", "127.0.0.1"},
  };
  for (const auto& c : cases) {
    char address[ADDRESS_TEXT_SIZE];
    std::snprintf(address, sizeof address, "%s", c.first.c_str());
    CompleteAddress(address);
    EXPECT_EQ(std::string(address), c.second);
  }
}

}  // namespace

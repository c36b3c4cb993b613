#include "net/ipv4_address.h"

#include <gtest/gtest.h>

namespace {

TEST(Ipv4AddressTest, OnlyPlainDecimalDottedQuads) {
  const struct {
    const char* text;
    bool taken;
    uint8_t octets[4];
  } kCases[] = {
      {"127.0.0.1", true, {127, 0, 0, 1}},
      {"192.168.14.17", true, {192, 168, 14, 17}},
      {"0.0.0.0", true, {0, 0, 0, 0}},
      {"10.200.0.255", true, {10, 200, 0, 255}},
      {"255.255.255.254", true, {255, 255, 255, 254}},
      // The C library reads these as other hosts: octal, hexadecimal, short.
      {"127.0.0.010", false, {}},
      {"127.0.0.0x0a", false, {}},
      {"0x7f.0.0.1", false, {}},
      {"127.1", false, {}},
      {"192.168.14.017", false, {}},  // a short "017", completed
      {"01.2.3.4", false, {}},
      {"1.2.3.00", false, {}},
      {"1.2.3.0004", false, {}},
      // Out of range or malformed.
      {"256.1.1.1", false, {}},
      {"1.2.3.1000", false, {}},
      {"1.2.3.4.5", false, {}},
      {"1.2.3", false, {}},
      {"1..3.4", false, {}},
      {".1.2.3", false, {}},
      {"1.2.3.4.", false, {}},
      {"", false, {}},
      {" 1.2.3.4", false, {}},
      {"1.2.3.4 ", false, {}},
      {"1.2.3.4\n", false, {}},
      {"+1.2.3.4", false, {}},
      {"1.-2.3.4", false, {}},
      {"1.2.3.4x", false, {}},
      {"localhost", false, {}},
      // The limited broadcast: no board, and the C library's error value.
      {"255.255.255.255", false, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    uint8_t octets[4] = {9, 9, 9, 9};
    const int result = ParseIpv4Address(c.text, octets);
    if (c.taken) {
      ASSERT_EQ(result, 0);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(octets[i], c.octets[i]) << i;
    } else {
      EXPECT_EQ(result, -1);
      for (int i = 0; i < 4; ++i) EXPECT_EQ(octets[i], 9) << "written though refused";
    }
  }
}

}  // namespace

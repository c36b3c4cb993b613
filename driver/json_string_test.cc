#include "driver/json_string.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/testutil.h"

namespace {

std::string Written(const std::string& text) {
  FILE* file = std::tmpfile();
  WriteJsonString(file, text.data(), text.size());
  std::string json = StreamText(file);
  std::fclose(file);
  return json;
}

TEST(JsonStringTest, EscapesWhatJsonForbidsAndWhatIsNoUtf8) {
  const struct {
    std::string text;
    std::string json;
  } kCases[] = {
      {"", "\"\""},
      {"V1.2 ok/", "\"V1.2 ok/\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t", "\"\\n\\r\\t\""},
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
      // Bytes above 0x7F are Latin-1 code points, never raw: a UTF-8
      // sequence from a board comes out as its two code points.
      {"\x80\xe9\xff", "\"\\u0080\\u00e9\\u00ff\""},
      {"\xc3\xa4", "\"\\u00c3\\u00a4\""},
  };
  for (const auto& c : kCases) EXPECT_EQ(Written(c.text), c.json);
}

TEST(JsonStringTest, ZeroTerminatedTextEndsAtItsZero) {
  FILE* file = std::tmpfile();
  WriteJsonString(file, "lat\xe9.bin");
  EXPECT_EQ(StreamText(file), "\"lat\\u00e9.bin\"");
  std::fclose(file);
}

}  // namespace

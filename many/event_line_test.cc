#include "many/event_line.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/json_string.h"
#include "tests/support/testutil.h"

namespace {

int Parse(EventLine* event, const std::string& line) {
  return event->Parse(line.data(), static_cast<int>(line.size()));
}

std::string StringOf(const EventLine& event, const char* key) {
  const char* text = nullptr;
  int length = 0;
  if (!event.GetString(key, &text, &length)) return "<none>";
  return std::string(text, static_cast<size_t>(length));
}

TEST(EventLineTest, ReadsAFlatObjectOfEveryValueType) {
  static EventLine event;
  ASSERT_EQ(Parse(&event,
                  "{\"t\": 1.250, \"event\":\"result\" ,\"status\":-1,\"flashed\":false,"
                  "\"ok\":true,\"failure\":null,\"big\":123456789012345678}\r\n"),
            0);
  EXPECT_EQ(event.count(), 7);
  EXPECT_EQ(event.Find("t")->type, JsonType::kNumber);
  EXPECT_DOUBLE_EQ(event.Find("t")->number, 1.25);
  EXPECT_FALSE(event.Find("t")->integral);
  EXPECT_TRUE(event.StringIs("event", "result"));
  EXPECT_FALSE(event.StringIs("event", "resul"));
  long long number = 0;
  ASSERT_TRUE(event.GetInteger("status", &number));
  EXPECT_EQ(number, -1);
  ASSERT_TRUE(event.GetInteger("big", &number));
  EXPECT_EQ(number, 123456789012345678LL);
  bool flag = true;
  ASSERT_TRUE(event.GetBool("flashed", &flag));
  EXPECT_FALSE(flag);
  ASSERT_TRUE(event.GetBool("ok", &flag));
  EXPECT_TRUE(flag);
  EXPECT_EQ(event.Find("failure")->type, JsonType::kNull);
  EXPECT_FALSE(event.GetBool("failure", &flag));
  EXPECT_FALSE(event.GetInteger("t", &number));  // not integral
  EXPECT_EQ(event.Find("missing"), nullptr);
  EXPECT_EQ(StringOf(event, "status"), "<none>");  // a number is no string

  ASSERT_EQ(Parse(&event, " { } "), 0);
  EXPECT_EQ(event.count(), 0);
}

TEST(EventLineTest, StringEscapes) {
  static EventLine event;
  ASSERT_EQ(Parse(&event,
                  "{\"text\":\"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\\u0000\\u001F\\u007f\\u0080\\u00FF"
                  "\\u00e9\",\"k\\u0065y\":\"\"}\n"),
            0);
  EXPECT_EQ(StringOf(event, "text"), std::string("a\"b\\c/d\b\f\n\r\t\0\x1f\x7f\x80\xff\xe9", 18));
  EXPECT_EQ(StringOf(event, "key"), "");
}

TEST(EventLineTest, EveryByteComesBackAsTheWriterWroteIt) {
  std::string text;
  for (int c = 0; c < 256; ++c) text += static_cast<char>(c);
  FILE* file = std::tmpfile();
  std::fputs("{\"event\":\"version\",\"text\":", file);
  WriteJsonString(file, text.data(), text.size());
  std::fputs("}\n", file);
  const std::string line = StreamText(file);
  std::fclose(file);
  static EventLine event;
  ASSERT_EQ(Parse(&event, line), 0) << line;
  EXPECT_EQ(StringOf(event, "text"), text);
}

TEST(EventLineTest, RefusesAnythingElse) {
  const std::string kLongString = "{\"a\":\"" + std::string(EVENT_LINE_SIZE - 8, 'x') + "\"}";
  std::string manyKeys = "{";
  for (int i = 0; i <= EVENT_FIELDS_MAX; ++i) {
    manyKeys += (i > 0 ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
  }
  manyKeys += "}";
  const std::string kCases[] = {
      "",
      "\n",
      "tcpflash: unknown option --x",
      "{",
      "{\"a\":1",
      "{\"a\":1,}",
      "{,}",
      "{\"a\" 1}",
      "{a:1}",
      "{'a':1}",
      "{\"a\":1}}",
      "{\"a\":1} x",
      "{\"a\":1}{\"b\":2}",
      "[1]",
      "{\"a\":{}}",
      "{\"a\":[1]}",
      "{\"a\":1,\"a\":2}",
      "{\"a\":tru}",
      "{\"a\":True}",
      "{\"a\":nul}",
      "{\"a\":01}",
      "{\"a\":1.}",
      "{\"a\":.5}",
      "{\"a\":-}",
      "{\"a\":+1}",
      "{\"a\":1e}",
      "{\"a\":0x10}",
      "{\"a\":1" + std::string(EVENT_NUMBER_SIZE, '0') + "}",
      "{\"a\":\"b}",
      "{\"a\":\"b\\\"}",
      "{\"a\":\"\\x41\"}",
      "{\"a\":\"\\u00\"}",
      "{\"a\":\"\\u00g1\"}",
      "{\"a\":\"\\u0100\"}",  // no byte: the writer never writes it
      "{\"a\":\"\\ud83d\\ude00\"}",
      "{\"a\":\"tab\there\"}",  // raw control byte
      "{\"a\":\"\xc3\xa9\"}",   // raw bytes above 0x7E
      "{\"a\":\"\x7f\"}",
      std::string("{\"a\":\"\0\"}", 9),
      kLongString,
      manyKeys,
  };
  static EventLine event;
  for (const std::string& line : kCases) {
    SCOPED_TRACE(line.substr(0, 60));
    EXPECT_EQ(Parse(&event, line), -1);
    EXPECT_EQ(event.count(), 0);
  }
  // The longest line taken, and one key fewer than refused.
  const std::string longest = "{\"a\":\"" + std::string(EVENT_LINE_SIZE - 10, 'x') + "\"}";
  ASSERT_EQ(static_cast<int>(longest.size()), EVENT_LINE_SIZE - 2);
  EXPECT_EQ(Parse(&event, longest + "\n"), 0);
  EXPECT_EQ(Parse(&event, kLongString.substr(0, 6) + kLongString.substr(7)), 0);
  ASSERT_EQ(Parse(&event, manyKeys.substr(0, manyKeys.rfind(',')) + "}"), 0);
  EXPECT_EQ(event.count(), EVENT_FIELDS_MAX);
}

}  // namespace

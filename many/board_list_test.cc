#include "many/board_list.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/testutil.h"

namespace {

TEST(BoardListTest, ParseBoardTable) {
  const struct {
    const char* text;
    const char* address;  // null: refused
    int port;
  } kCases[] = {
      {"127.0.0.1:7000", "127.0.0.1", 7000},
      {"10.1.2.3", "10.1.2.3", DEFAULT_PORT},
      {"255.255.255.254:65535", "255.255.255.254", 65535},
      {"0.0.0.0:1", "0.0.0.0", 1},
      {"1.2.3.4:06666", "1.2.3.4", 6666},
      // Short addresses are completed as tcpflash completes them.
      {"17", "192.168.14.17", DEFAULT_PORT},
      {"5:7001", "192.168.14.5", 7001},
      {"254", "192.168.14.254", DEFAULT_PORT},
      {"0", "192.168.14.0", DEFAULT_PORT},
      {"abc", nullptr, 0},  // completed, but no address
      {"017", nullptr, 0},  // completed, then a leading zero
      {"127.0.0.010", nullptr, 0},
      {"127.000.000.001", nullptr, 0},
      {"0x7f.0.0.1", nullptr, 0},
      {"127.1", nullptr, 0},
      {"255.255.255.255", nullptr, 0},
      {"1.2.3.4:+6666", nullptr, 0},
      {"1.2.3.4: 6666", nullptr, 0},
      {"1.2.3.4:6666 ", nullptr, 0},
      {"300", nullptr, 0},     // 192.168.14.300
      {"abcd", nullptr, 0},    // four characters are not completed
      {"10.0.1", nullptr, 0},  // three parts
      {"1.2.3.4.5", nullptr, 0},
      {"1.2.3.256", nullptr, 0},
      {"1.2.3.0004", nullptr, 0},
      {"1..3.4", nullptr, 0},
      {"", nullptr, 0},
      {":7000", nullptr, 0},
      {"1.2.3.4:", nullptr, 0},
      {"1.2.3.4:0", nullptr, 0},
      {"1.2.3.4:65536", nullptr, 0},
      {"1.2.3.4:123456", nullptr, 0},
      {"1.2.3.4:-1", nullptr, 0},
      {"1.2.3.4:80x", nullptr, 0},
      {"1.2.3.4:80:81", nullptr, 0},
      {"1234567890123456789012345678901234567890123", nullptr, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    Board board;
    char why[BOARD_ERROR_SIZE] = "";
    const int result = ParseBoard(c.text, &board, why);
    if (c.address == nullptr) {
      EXPECT_EQ(result, -1);
      EXPECT_NE(why[0], '\0');
    } else {
      ASSERT_EQ(result, 0) << why;
      EXPECT_STREQ(board.address, c.address);
      EXPECT_EQ(board.port, c.port);
    }
  }
}

TEST(BoardListTest, CompletionIsTheToolsOwn) {
  // The same function as tcpflash: whatever it makes of a short text.
  for (const char* text : {"1", "17", "254"}) {
    char expected[ADDRESS_TEXT_SIZE];
    std::snprintf(expected, sizeof expected, "%s", text);
    CompleteAddress(expected);
    Board board;
    char why[BOARD_ERROR_SIZE];
    ASSERT_EQ(ParseBoard(text, &board, why), 0);
    EXPECT_STREQ(board.address, expected);
  }
}

TEST(BoardListTest, DuplicatesAndTheLimitAreRefused) {
  BoardList list;
  char why[BOARD_ERROR_SIZE];
  ASSERT_EQ(AddBoard(&list, "17", why), 0);
  ASSERT_EQ(AddBoard(&list, "192.168.14.17:6667", why), 0);
  EXPECT_EQ(AddBoard(&list, "192.168.14.17:6666", why), -1);
  EXPECT_STREQ(why, "board 192.168.14.17:6666 is listed twice");
  EXPECT_EQ(AddBoard(&list, "192.168.14.17:06667", why), -1);
  EXPECT_STREQ(why, "board 192.168.14.17:6667 is listed twice");
  EXPECT_EQ(list.count, 2);
  for (int port = 1; list.count < MAX_BOARDS; ++port) {
    ASSERT_EQ(AddBoard(&list, ("127.0.0.1:" + std::to_string(port)).c_str(), why), 0);
  }
  EXPECT_EQ(AddBoard(&list, "127.0.0.2", why), -1);
  EXPECT_EQ(list.count, MAX_BOARDS);
}

struct FileResult {
  int result;
  std::string why;
  std::string boards;  // "address:port " each
};

FileResult ReadBoardFile(const std::string& text) {
  FILE* file = TempFileWith(text);
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return {-99, "no temporary file", ""};
  BoardList list;
  char why[BOARD_ERROR_SIZE] = "";
  FileResult r{AddBoardsFromStream(&list, file, "trays.txt", why), why, ""};
  std::fclose(file);
  for (int i = 0; i < list.count; ++i) {
    char name[BOARD_NAME_SIZE];
    BoardName(list.boards[i], name);
    r.boards += std::string(name) + " ";
  }
  return r;
}

TEST(BoardListTest, BoardFileTable) {
  const struct {
    std::string text;
    int result;
    std::string boards;
    std::string why;
  } kCases[] = {
      {"", 0, "", ""},
      {"127.0.0.1:7000\n10.0.0.2\n", 0, "127.0.0.1:7000 10.0.0.2:6666 ", ""},
      // Comments, blank lines, indentation, CRLF and no final line end.
      {"# tray 3\n\n  17  # left front\r\n\t127.0.0.1:7001\r\n   \n18", 0,
       "192.168.14.17:6666 127.0.0.1:7001 192.168.14.18:6666 ", ""},
      {"#only comments\n#\n", 0, "", ""},
      {"17\n17 18\n", -1, "192.168.14.17:6666 ", "trays.txt:2: one board a line, not \"17 18\""},
      {"17\n\n1.2.3\n", -1, "192.168.14.17:6666 ",
       "trays.txt:3: \"1.2.3\" is no IPv4 address (four numbers 0-255 without leading zeros)"},
      // A NUL byte ends no line silently: the board behind it would be lost.
      {std::string("17\n\0", 4) + "18\n19\n", -1, "192.168.14.17:6666 ",
       "trays.txt:2: a NUL byte: no board file of text"},
      {std::string("17 #\0\n18\n", 9), -1, "", "trays.txt:1: a NUL byte: no board file of text"},
      {std::string(BOARD_FILE_MAX_BYTES, '\n'), 0, "", ""},
      {std::string(BOARD_FILE_MAX_BYTES - 2, '\n') + "17\n", -1, "",
       "trays.txt: larger than 1048576 bytes: no board file"},
      {"17\n192.168.14.17\n", -1, "192.168.14.17:6666 ",
       "trays.txt:2: board 192.168.14.17:6666 is listed twice"},
      {std::string(300, ' ') + "17\n", -1, "", "trays.txt:1: line longer than 255 characters"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    const FileResult r = ReadBoardFile(c.text);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.boards, c.boards);
    EXPECT_EQ(r.why, c.why);
  }
}

}  // namespace

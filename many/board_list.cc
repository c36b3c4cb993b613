#include "many/board_list.h"

#include <cstdint>
#include <cstring>

#include "driver/image_file.h"
#include "net/ipv4_address.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Takes one line of a board file, line[0,len) without its "\n": drops the
// comment and the blanks around the board and adds the board, if any.
// Returns 0, or -1 with "fileName:lineNo: reason" in why.
int TakeBoardLine(BoardList* list, char* line, int len, const char* fileName, int lineNo,
                  char* why) {
  line[len] = '\0';
  char* comment = std::strchr(line, '#');
  if (comment != nullptr) *comment = '\0';
  len = static_cast<int>(std::strlen(line));
  while (len > 0 && IsBlank(line[len - 1])) line[--len] = '\0';
  char* start = line;
  while (IsBlank(*start)) ++start;
  if (*start == '\0') return 0;
  for (const char* p = start; *p != '\0'; ++p) {
    if (IsBlank(*p)) {
      std::snprintf(why, BOARD_ERROR_SIZE, "%.100s:%d: one board a line, not \"%.100s\"", fileName,
                    lineNo, start);
      return -1;
    }
  }
  char reason[BOARD_ERROR_SIZE];
  if (AddBoard(list, start, reason) != 0) {
    std::snprintf(why, BOARD_ERROR_SIZE, "%.100s:%d: %.200s", fileName, lineNo, reason);
    return -1;
  }
  return 0;
}

}  // namespace

int ParseBoard(const char* text, Board* board, char* why) {
  const char* colon = std::strchr(text, ':');
  const size_t addressLen =
      colon != nullptr ? static_cast<size_t>(colon - text) : std::strlen(text);
  if (addressLen == 0) {
    std::snprintf(why, BOARD_ERROR_SIZE, "no address in \"%.60s\"", text);
    return -1;
  }
  // Short enough for the address text, and longer than any dotted address.
  if (addressLen > 15) {
    std::snprintf(why, BOARD_ERROR_SIZE, "\"%.40s...\" is no IPv4 address", text);
    return -1;
  }
  std::memcpy(board->address, text, addressLen);
  board->address[addressLen] = '\0';
  CompleteAddress(board->address);
  // tcpflash's own reading: what it would refuse is no board, and no two
  // texts of one address ("127.0.0.1", "127.000.000.001") make two boards.
  uint8_t octets[4];
  if (ParseIpv4Address(board->address, octets) != 0) {
    std::snprintf(why, BOARD_ERROR_SIZE,
                  "\"%s\" is no IPv4 address (four numbers 0-255 without leading zeros)",
                  board->address);
    return -1;
  }
  board->port = DEFAULT_PORT;
  if (colon != nullptr) {
    board->port = ParsePort(colon + 1);
    if (board->port < 0) {
      std::snprintf(why, BOARD_ERROR_SIZE, "\"%.40s\" is no port (1-65535) in \"%.60s\"", colon + 1,
                    text);
      return -1;
    }
  }
  return 0;
}

int AddBoard(BoardList* list, const char* text, char* why) {
  Board board;
  if (ParseBoard(text, &board, why) != 0) return -1;
  for (int i = 0; i < list->count; ++i) {
    const Board& other = list->boards[i];
    if (other.port == board.port && std::strcmp(other.address, board.address) == 0) {
      char name[BOARD_NAME_SIZE];
      BoardName(board, name);
      std::snprintf(why, BOARD_ERROR_SIZE, "board %s is listed twice", name);
      return -1;
    }
  }
  if (list->count >= MAX_BOARDS) {
    std::snprintf(why, BOARD_ERROR_SIZE, "more than %d boards", MAX_BOARDS);
    return -1;
  }
  list->boards[list->count++] = board;
  return 0;
}

int AddBoardsFromStream(BoardList* list, FILE* input, const char* fileName, char* why) {
  // One more for the terminating zero.
  char line[BOARD_LINE_MAX + 1];
  int len = 0;
  long total = 0;
  for (int lineNo = 1;;) {
    const int c = std::getc(input);
    if (c != EOF && ++total > BOARD_FILE_MAX_BYTES) {
      std::snprintf(why, BOARD_ERROR_SIZE, "%.100s: larger than %d bytes: no board file", fileName,
                    BOARD_FILE_MAX_BYTES);
      return -1;
    }
    if (c == '\0') {
      // fgets-style reading would end the line here and drop the rest unseen.
      std::snprintf(why, BOARD_ERROR_SIZE, "%.100s:%d: a NUL byte: no board file of text", fileName,
                    lineNo);
      return -1;
    }
    if (c != EOF && c != '\n') {
      if (len == BOARD_LINE_MAX) {
        std::snprintf(why, BOARD_ERROR_SIZE, "%.100s:%d: line longer than %d characters", fileName,
                      lineNo, BOARD_LINE_MAX);
        return -1;
      }
      line[len++] = static_cast<char>(c);
      continue;
    }
    if (c == EOF && std::ferror(input) != 0) {
      std::snprintf(why, BOARD_ERROR_SIZE, "%.100s: read error", fileName);
      return -1;
    }
    if (TakeBoardLine(list, line, len, fileName, lineNo, why) != 0) return -1;
    if (c == EOF) return 0;
    ++lineNo;
    len = 0;
  }
}

int AddBoardsFromFile(BoardList* list, const char* path, char* why) {
  long long size = 0;
  // Only a regular file: a FIFO would wait for a writer, a device never end.
  FILE* file = OpenImage(path, &size);
  if (file == nullptr) {
    std::snprintf(why, BOARD_ERROR_SIZE,
                  "cannot read the board file %.200s (missing, unreadable or no regular file)",
                  path);
    return -1;
  }
  const int result = AddBoardsFromStream(list, file, path, why);
  std::fclose(file);
  return result;
}

void BoardName(const Board& board, char* name) {
  // A parsed address has at most 15 characters.
  std::snprintf(name, BOARD_NAME_SIZE, "%.15s:%d", board.address, board.port);
}

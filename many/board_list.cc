#include "many/board_list.h"

#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when text is four decimal numbers 0-255 of 1-3 digits joined by dots.
bool IsDottedQuad(const char* text) {
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return false;
    int value = 0;
    int digits = 0;
    while (IsDigit(*p) && digits < 4) {
      value = value * 10 + (*p++ - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
  }
  return *p == '\0';
}

// Parses 1-5 decimal digits text[0,len) into 1-65535. Returns the port or -1.
int ParsePort(const char* text, size_t len) {
  if (len == 0 || len > 5) return -1;
  int value = 0;
  for (size_t i = 0; i < len; ++i) {
    if (!IsDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value >= 1 && value <= 65535 ? value : -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

int ParseBoard(const char* text, Board* board, char* why) {
  const char* colon = std::strchr(text, ':');
  const size_t addressLen =
      colon != nullptr ? static_cast<size_t>(colon - text) : std::strlen(text);
  if (addressLen == 0) {
    std::snprintf(why, BOARD_ERROR_SIZE, "no address in \"%s\"", text);
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
  if (!IsDottedQuad(board->address)) {
    std::snprintf(why, BOARD_ERROR_SIZE, "\"%s\" is no IPv4 address", board->address);
    return -1;
  }
  board->port = DEFAULT_PORT;
  if (colon != nullptr) {
    board->port = ParsePort(colon + 1, std::strlen(colon + 1));
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
  // One more for the line end and one for the terminating zero.
  char line[BOARD_LINE_MAX + 2];
  for (int lineNo = 1; std::fgets(line, sizeof line, input) != nullptr; ++lineNo) {
    size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] != '\n' && std::feof(input) == 0) {
      std::snprintf(why, BOARD_ERROR_SIZE, "%.100s:%d: line longer than %d characters", fileName,
                    lineNo, BOARD_LINE_MAX);
      return -1;
    }
    char* comment = std::strchr(line, '#');
    if (comment != nullptr) *comment = '\0';
    len = std::strlen(line);
    while (len > 0 && IsBlank(line[len - 1])) line[--len] = '\0';
    char* start = line;
    while (IsBlank(*start)) ++start;
    if (*start == '\0') continue;
    for (const char* p = start; *p != '\0'; ++p) {
      if (IsBlank(*p)) {
        std::snprintf(why, BOARD_ERROR_SIZE, "%.100s:%d: one board a line, not \"%.100s\"",
                      fileName, lineNo, start);
        return -1;
      }
    }
    char reason[BOARD_ERROR_SIZE];
    if (AddBoard(list, start, reason) != 0) {
      std::snprintf(why, BOARD_ERROR_SIZE, "%.100s:%d: %.200s", fileName, lineNo, reason);
      return -1;
    }
  }
  if (std::ferror(input) != 0) {
    std::snprintf(why, BOARD_ERROR_SIZE, "%.100s: read error", fileName);
    return -1;
  }
  return 0;
}

void BoardName(const Board& board, char* name) {
  // A parsed address has at most 15 characters.
  std::snprintf(name, BOARD_NAME_SIZE, "%.15s:%d", board.address, board.port);
}

// The boards of one run: "ADDRESS[:PORT]" from the command line and from a
// board file with one board a line.
#ifndef TCPFLASH_MANY_BOARD_LIST_H_
#define TCPFLASH_MANY_BOARD_LIST_H_

#include <cstdio>

#include "driver/select_target.h"

// A tray or a bench; more would also exceed the open-file limit of a
// typical session (two pipes and one or two logs per running board).
constexpr int MAX_BOARDS = 256;
// Longest line of a board file, comments included.
constexpr int BOARD_LINE_MAX = 255;
// "255.255.255.255:65535" and the terminating zero, with room to spare.
constexpr int BOARD_NAME_SIZE = 32;
// Room for a reason why a board text or file was refused.
constexpr int BOARD_ERROR_SIZE = 320;
// Largest board file: a thousand trays of boards fit many times over.
constexpr int BOARD_FILE_MAX_BYTES = 1 << 20;

struct Board {
  // The dotted IPv4 address, short ones completed as tcpflash completes them.
  char address[ADDRESS_TEXT_SIZE] = "";
  int port = DEFAULT_PORT;
};

struct BoardList {
  Board boards[MAX_BOARDS];
  int count = 0;
};

// Parses text ("ADDRESS" or "ADDRESS:PORT") into *board. An address of up
// to three characters is completed with CompleteAddress; the result must
// pass ParseIpv4Address (net/ipv4_address.h), as tcpflash's connection
// does, so that each board has one spelling. PORT must pass ParsePort
// (driver/select_target.h), DEFAULT_PORT when absent. Returns 0, or -1 with
// a reason (zero-terminated) in why[0,BOARD_ERROR_SIZE) and *board
// unspecified.
int ParseBoard(const char* text, Board* board, char* why);

// Parses text and appends the board to list. Returns 0, or -1 with a reason
// in why[0,BOARD_ERROR_SIZE) when text is no board, the board is listed
// already, or the list holds MAX_BOARDS.
int AddBoard(BoardList* list, const char* text, char* why);

// Appends the boards of a board file read from input: one board a line,
// anything from "#" to the end of the line ignored, spaces, tabs and "\r"
// around the board ignored, blank lines skipped. Reads at most
// BOARD_FILE_MAX_BYTES + 1 bytes. fileName only labels the reasons. Returns
// 0, or -1 with "fileName:LINE: reason" in why[0,BOARD_ERROR_SIZE) at the
// first bad line (boards before it stay appended): a bad board, a line over
// BOARD_LINE_MAX characters, a NUL byte; or with "fileName: reason" when
// input holds more than BOARD_FILE_MAX_BYTES or a read failed.
int AddBoardsFromStream(BoardList* list, FILE* input, const char* fileName, char* why);

// Appends the boards of the board file at path as AddBoardsFromStream does.
// The file must be a regular file (a FIFO or a device is refused before it
// is opened). Returns 0, or -1 with a reason in why[0,BOARD_ERROR_SIZE).
int AddBoardsFromFile(BoardList* list, const char* path, char* why);

// Writes "ADDRESS:PORT" to name[0,BOARD_NAME_SIZE).
void BoardName(const Board& board, char* name);

#endif  // TCPFLASH_MANY_BOARD_LIST_H_

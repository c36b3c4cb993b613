#include "driver/select_target.h"

#include <cctype>
#include <cstring>

#include "net/tcp_endpoint.h"

namespace {

constexpr int kWordEnded = -1;
constexpr int kWordTooLong = -2;

// Reads one whitespace-delimited word from input into word[0,max]. Returns
// its length; kWordEnded at end of input before any word; kWordTooLong when
// the word has more than max characters (the rest of it is consumed).
int ReadWord(FILE* input, char* word, int max) {
  int c;
  do {
    c = std::fgetc(input);
  } while (c != EOF && std::isspace(c));
  if (c == EOF) return kWordEnded;
  int len = 0;
  bool tooLong = false;
  for (; c != EOF && !std::isspace(c); c = std::fgetc(input)) {
    if (len < max) {
      word[len++] = static_cast<char>(c);
    } else {
      tooLong = true;
    }
  }
  word[len] = '\0';
  return tooLong ? kWordTooLong : len;
}

void PrintTooLong() { std::printf("Address too long: at most %d characters\n", ADDRESS_MAX_CHARS); }

}  // namespace

int SelectTarget(int argc, char* const* argv, FILE* input, char* address, int* port) {
  *port = DEFAULT_PORT;
  if (argc == 2 || argc == 3) {
    if (std::strlen(argv[1]) > static_cast<size_t>(ADDRESS_MAX_CHARS)) {
      PrintTooLong();
      return SELECT_REFUSED;
    }
    std::memcpy(address, argv[1], std::strlen(argv[1]) + 1);
    if (argc == 3) {
      *port = ParsePort(argv[2]);
      if (*port < 0) {
        // The start is enough to recognise it, and keeps the line short.
        std::printf("Invalid port %.20s%s: a port is 1 to 65535\n", argv[2],
                    std::strlen(argv[2]) > 20 ? "..." : "");
        return SELECT_REFUSED;
      }
    }
    return 0;
  }
  for (;;) {
    std::printf("IP Adresse: ");
    std::fflush(stdout);
    const int len = ReadWord(input, address, ADDRESS_MAX_CHARS);
    if (len == kWordEnded) {
      std::printf("\nNo address entered: end of input\n");
      return SELECT_NO_INPUT;
    }
    if (len == kWordTooLong) {
      PrintTooLong();
      continue;
    }
    if (len < 4 || len > 6) return 0;
  }
}

int ParsePort(const char* text) {
  if (*text == '\0') return -1;
  long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10 + (*p - '0');
    // Stops before it could overflow; leading zeros cost nothing.
    if (value > 65535) return -1;
  }
  return value >= 1 ? static_cast<int>(value) : -1;
}

void CompleteAddress(char* address) {
  if (std::strlen(address) > 3) return;
  char completed[ADDRESS_TEXT_SIZE];
  const int len = std::snprintf(completed, sizeof completed, "192.168.14.%s", address);
  std::memcpy(address, completed, static_cast<size_t>(len) + 1);
}

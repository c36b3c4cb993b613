#include "driver/json_string.h"

#include <cstring>

void WriteJsonString(FILE* out, const char* text, size_t n) {
  std::fputc('"', out);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      std::fputc('\\', out);
      std::fputc(c, out);
    } else if (c == '\n') {
      std::fputs("\\n", out);
    } else if (c == '\r') {
      std::fputs("\\r", out);
    } else if (c == '\t') {
      std::fputs("\\t", out);
    } else if (c < 0x20 || c >= 0x7F) {
      std::fprintf(out, "\\u%04x", c);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputc('"', out);
}

void WriteJsonString(FILE* out, const char* text) { WriteJsonString(out, text, std::strlen(text)); }

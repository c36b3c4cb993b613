#include "tests/support/testutil.h"

#include <utility>

namespace {

FILE* TempFileHolding(const void* data, size_t size) {
  FILE* file = std::tmpfile();
  if (file == nullptr) return nullptr;
  if (size > 0 && std::fwrite(data, 1, size, file) != size) {
    std::fclose(file);
    return nullptr;
  }
  std::rewind(file);
  return file;
}

}  // namespace

FILE* TempFileWith(const std::string& text) { return TempFileHolding(text.data(), text.size()); }

FILE* TempFileWith(const Bytes& bytes) { return TempFileHolding(bytes.data(), bytes.size()); }

std::string StreamText(FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  return text;
}

Bytes FileBytes(const char* path) {
  Bytes data;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return data;
  uint8_t chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    data.insert(data.end(), chunk, chunk + got);
  }
  std::fclose(file);
  return data;
}

CommandLine::CommandLine(const char* program, std::vector<std::string> words)
    : words_(std::move(words)) {
  words_.insert(words_.begin(), program);
  for (std::string& word : words_) pointers_.push_back(&word[0]);
  pointers_.push_back(nullptr);
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

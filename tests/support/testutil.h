// Small helpers of the tests: temporary files and what a stream holds,
// command lines for the option parsers, and elapsed time.
#ifndef TCPFLASH_TESTS_SUPPORT_TESTUTIL_H_
#define TCPFLASH_TESTS_SUPPORT_TESTUTIL_H_

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/bytes.h"

// A temporary file holding text (or bytes), positioned at its start; it is
// removed when closed. nullptr when none could be made.
FILE* TempFileWith(const std::string& text);
FILE* TempFileWith(const Bytes& bytes);

// Everything file holds, from its start, once what was written to it is
// flushed; file is left positioned at its end.
std::string StreamText(FILE* file);

// The whole content of the file at path; empty when it cannot be read.
Bytes FileBytes(const char* path);

// A command line for a parser under test: argv[0] is program, the words
// follow, and argv[argc] is a null pointer. argv() points into this object.
class CommandLine {
 public:
  CommandLine(const char* program, std::vector<std::string> words);
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

// Milliseconds since start on the steady clock.
long long MillisecondsSince(std::chrono::steady_clock::time_point start);

#endif  // TCPFLASH_TESTS_SUPPORT_TESTUTIL_H_

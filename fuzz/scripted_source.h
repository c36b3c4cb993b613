// A byte source for ReceiveFrame that plays a stream in reads whose sizes
// the fuzz input chooses, and counts what it handed out.
#ifndef TCPFLASH_FUZZ_SCRIPTED_SOURCE_H_
#define TCPFLASH_FUZZ_SCRIPTED_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fuzz/fuzz_check.h"

class ScriptedSource {
 public:
  // Read i brings sizes[i % sizeCount] % (cap + 1) bytes, or cap bytes when
  // there are no sizes; always at most what is asked and what is left.
  ScriptedSource(const uint8_t* stream, size_t streamSize, const uint8_t* sizes, size_t sizeCount,
                 int cap)
      : stream_(stream), streamSize_(streamSize), sizes_(sizes), sizeCount_(sizeCount), cap_(cap) {}

  int Receive(uint8_t* buffer, int length) {
    FUZZ_CHECK(length >= 1);
    ++reads;
    int n = cap_;
    if (sizeCount_ > 0) n = sizes_[nextSize_++ % sizeCount_] % (cap_ + 1);
    if (n > length) n = length;
    const size_t left = streamSize_ - pos;
    if (static_cast<size_t>(n) > left) n = static_cast<int>(left);
    if (n == 0) {
      ++trailingEmpty;
      return 0;
    }
    std::memcpy(buffer, stream_ + pos, static_cast<size_t>(n));
    pos += static_cast<size_t>(n);
    ++nonEmptyReads;
    trailingEmpty = 0;
    return n;
  }

  bool Exhausted() const { return pos == streamSize_; }

  size_t pos = 0;           // stream bytes handed out so far
  unsigned long reads = 0;  // calls of Receive
  unsigned long nonEmptyReads = 0;
  unsigned long trailingEmpty = 0;  // empty reads since the last one with bytes

 private:
  const uint8_t* stream_;
  size_t streamSize_;
  const uint8_t* sizes_;
  size_t sizeCount_;
  size_t nextSize_ = 0;
  int cap_;
};

// libFuzzer reports on stderr; the receiver's "Timeout" lines on stdout would
// only slow it down.
#ifdef TCPFLASH_LIBFUZZER
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // If stdout cannot be silenced the runs are only slower.
  const FILE* silenced = std::freopen("/dev/null", "w", stdout);
  (void)silenced;
  return 0;
}
#endif

#endif  // TCPFLASH_FUZZ_SCRIPTED_SOURCE_H_

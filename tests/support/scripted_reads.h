// A byte source for ReceiveFrame that plays a stream back in reads of
// scripted sizes and counts what it handed out: the receiver's unit tests
// script each read, the fuzz harnesses let their input choose the sizes.
// Header-only and free of GoogleTest, so that the fuzz harnesses can include
// it.
#ifndef TCPFLASH_TESTS_SUPPORT_SCRIPTED_READS_H_
#define TCPFLASH_TESTS_SUPPORT_SCRIPTED_READS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "tests/support/bytes.h"

class ScriptedReads {
 public:
  // Plays stream in reads of sizes[0], sizes[1], ... bytes (none negative).
  // Past the last size the sizes start over when repeat is set; otherwise
  // every further read is empty.
  ScriptedReads(Bytes stream, std::vector<int> sizes, bool repeat)
      : stream_(std::move(stream)), sizes_(std::move(sizes)), repeat_(repeat) {}

  // Plays back the given reads one by one (an empty one is an empty read),
  // then only empty reads.
  explicit ScriptedReads(const std::vector<Bytes>& script) : repeat_(false) {
    for (const Bytes& read : script) {
      stream_.insert(stream_.end(), read.begin(), read.end());
      sizes_.push_back(static_cast<int>(read.size()));
    }
  }

  // Writes the next read's bytes to buffer[0,n) and returns n (0: an empty
  // read): what the script gives this read, but no more than length and no
  // more than is left of the stream. buffer must hold length bytes.
  int Receive(uint8_t* buffer, int length) {
    const size_t read = reads++;
    int n = 0;
    if (!sizes_.empty() && (repeat_ || read < sizes_.size())) n = sizes_[read % sizes_.size()];
    if (length < 1) ++emptyRequests;
    if (n > length) {
      ++cutReads;
      n = length;
    }
    const size_t left = stream_.size() - pos;
    if (static_cast<size_t>(n) > left) n = static_cast<int>(left);
    if (n <= 0) {
      ++trailingEmpty;
      return 0;
    }
    std::memcpy(buffer, stream_.data() + pos, static_cast<size_t>(n));
    pos += static_cast<size_t>(n);
    ++nonEmptyReads;
    trailingEmpty = 0;
    return n;
  }

  size_t pos = 0;                   // stream bytes handed out so far
  unsigned long reads = 0;          // calls of Receive
  unsigned long nonEmptyReads = 0;  // calls that brought bytes
  unsigned long trailingEmpty = 0;  // empty reads since the last one with bytes
  unsigned long emptyRequests = 0;  // calls that asked for no byte at all
  unsigned long cutReads = 0;       // calls that asked for fewer bytes than scripted

 private:
  Bytes stream_;
  std::vector<int> sizes_;
  bool repeat_;
};

#endif  // TCPFLASH_TESTS_SUPPORT_SCRIPTED_READS_H_

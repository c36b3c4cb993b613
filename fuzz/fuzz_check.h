// Checks for the fuzz harnesses that stay on in release builds, where assert()
// would vanish under NDEBUG.
#ifndef TCPFLASH_FUZZ_FUZZ_CHECK_H_
#define TCPFLASH_FUZZ_FUZZ_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::fflush(stderr);                                                          \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// Hands out the fuzz input byte by byte; 0 once it is used up, so a short
// input still drives every choice.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t TakeByte() { return pos_ < size_ ? data_[pos_++] : 0; }
  const uint8_t* Rest() const { return data_ + pos_; }
  size_t RestSize() const { return size_ - pos_; }
  // Takes up to n bytes as a run of its own; returns how many it took.
  size_t Skip(size_t n) {
    const size_t k = n < size_ - pos_ ? n : size_ - pos_;
    pos_ += k;
    return k;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The read sizes an input chooses for a scripted byte source: sizes[0,count)
// each taken modulo cap + 1, or cap alone when there are none.
inline std::vector<int> ReadSizes(const uint8_t* sizes, size_t count, int cap) {
  std::vector<int> script;
  for (size_t i = 0; i < count; ++i) script.push_back(sizes[i] % (cap + 1));
  if (script.empty()) script.push_back(cap);
  return script;
}

#endif  // TCPFLASH_FUZZ_FUZZ_CHECK_H_

// UnescapeFrame on arbitrary bytes: bounded result, untouched buffer on
// failure, and a decoded content that survives stuffing and decoding again.
#include <cstring>
#include <memory>

#include "frame/frame_codec.h"
#include "fuzz/fuzz_check.h"

namespace {

// Decoded length per the stuffing rule, FRAME_LIMIT ignored, or -1 for a bad
// escape code; fills content. An independent reading to compare against.
int ReferenceDecode(const uint8_t* raw, int len, uint8_t* content) {
  int n = 0;
  for (int i = 1; i < len - 1; ++i) {
    uint8_t b = raw[i];
    if (b == FRAME_ESCAPE) {
      ++i;
      if (raw[i] > 2) return -1;
      b = static_cast<uint8_t>(FRAME_ESCAPE + raw[i]);
    }
    content[n++] = b;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const int len = static_cast<int>(size);
  // Exactly len bytes, so that a read or write past the frame is caught.
  std::unique_ptr<uint8_t[]> frame(new uint8_t[size]);
  if (size > 0) std::memcpy(frame.get(), data, size);

  const int result = UnescapeFrame(frame.get(), len);
  FUZZ_CHECK(result >= -1 && result <= FRAME_LIMIT);
  if (len <= 2) FUZZ_CHECK(result == 0);

  if (result <= 0) {
    // A failure, or nothing decoded, leaves the caller's buffer as it was.
    FUZZ_CHECK(size == 0 || std::memcmp(frame.get(), data, size) == 0);
  } else {
    // Bytes past the content keep their values.
    FUZZ_CHECK(std::memcmp(frame.get() + result, data + result, size - result) == 0);
  }

  std::unique_ptr<uint8_t[]> expected(new uint8_t[size + 1]);
  const int reference = ReferenceDecode(data, len, expected.get());
  if (reference < 0 || reference > FRAME_LIMIT) {
    FUZZ_CHECK(result == -1);
  } else {
    FUZZ_CHECK(result == reference);
    FUZZ_CHECK(std::memcmp(frame.get(), expected.get(), static_cast<size_t>(result)) == 0);
  }
  if (result < 0) return 0;

  // The markers are not examined: another first byte decodes the same.
  if (len > 2) {
    std::unique_ptr<uint8_t[]> other(new uint8_t[size]);
    std::memcpy(other.get(), data, size);
    other[0] = static_cast<uint8_t>(~data[0]);
    FUZZ_CHECK(UnescapeFrame(other.get(), len) == result);
    FUZZ_CHECK(std::memcmp(other.get(), frame.get(), static_cast<size_t>(result)) == 0);
  }

  // Rebuild the plain frame, stuff it and decode it again.
  const int plainLen = result + 2;
  if (plainLen > FRAME_LIMIT) return 0;
  uint8_t wire[2 * FRAME_LIMIT];
  wire[0] = FRAME_START;
  std::memcpy(wire + 1, frame.get(), static_cast<size_t>(result));
  wire[plainLen - 1] = FRAME_END;
  const int rawLen = EscapeFrame(wire, static_cast<uint8_t>(plainLen));
  FUZZ_CHECK(rawLen >= plainLen && rawLen <= 2 * plainLen - 2);
  FUZZ_CHECK(wire[0] == FRAME_START && wire[rawLen - 1] == FRAME_END);
  bool plainInput = true;
  for (int i = 1; i < rawLen - 1; ++i) {
    // On the connection, markers only mark and an escape byte only escapes.
    FUZZ_CHECK(wire[i] != FRAME_START && wire[i] != FRAME_END);
    if (wire[i] == FRAME_ESCAPE) FUZZ_CHECK(i + 1 < rawLen - 1 && wire[i + 1] <= 2);
  }
  for (int i = 1; i < len - 1; ++i) {
    if (data[i] == FRAME_START || data[i] == FRAME_END) plainInput = false;
  }
  if (plainInput && len >= 2) {
    // Stuffing is unique: without stray markers inside, the input's inner
    // bytes (its last one too when an escape took it as code) come back.
    const int inner = rawLen - 2;
    FUZZ_CHECK(inner == len - 2 || inner == len - 1);
    FUZZ_CHECK(std::memcmp(wire + 1, data + 1, static_cast<size_t>(inner)) == 0);
  }
  std::unique_ptr<uint8_t[]> again(new uint8_t[static_cast<size_t>(rawLen)]);
  std::memcpy(again.get(), wire, static_cast<size_t>(rawLen));
  FUZZ_CHECK(UnescapeFrame(again.get(), rawLen) == result);
  FUZZ_CHECK(std::memcmp(again.get(), frame.get(), static_cast<size_t>(result)) == 0);
  return 0;
}

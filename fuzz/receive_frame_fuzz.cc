// ReceiveFrame over an arbitrary stream cut into arbitrary reads: each frame
// it returns is exactly the next one a byte-by-byte reading of the stream
// finds from where the previous call stopped, whatever the read sizes.
#include <cstring>
#include <memory>

#include "frame/frame_receiver.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/bytes.h"
#include "tests/support/scripted_reads.h"

namespace {

struct Found {
  bool complete;
  size_t start;  // of the frame in the stream
  size_t end;    // one past its end marker
};

// The first frame in stream[from, to) by the receiver's rules, read one byte
// at a time with no regard to how the bytes arrived.
Found FirstFrame(const uint8_t* stream, size_t from, size_t to, int maxLen) {
  bool inFrame = false;
  int stored = 0;
  size_t start = 0;
  for (size_t q = from; q < to; ++q) {
    const uint8_t b = stream[q];
    if (!inFrame) {
      if (b == FRAME_START) {
        inFrame = true;
        stored = 1;
        start = q;
      }
    } else if (stored == maxLen) {
      inFrame = false;
      stored = 0;
    } else if (b == FRAME_START) {
      stored = 1;
      start = q;
    } else {
      ++stored;
      if (b == FRAME_END) return {true, start, q + 1};
    }
  }
  return {false, 0, 0};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const int maxLen = 2 + input.TakeByte() % 255;
  const uint8_t flags = input.TakeByte();
  const bool smallReads = (flags & 1) != 0;
  const unsigned maxIdle = (flags >> 1) & 3u;
  const int cap = smallReads ? 4 : maxLen;
  const size_t sizeCount = input.TakeByte() % 32u;
  const uint8_t* sizes = input.Rest();
  const size_t taken = input.Skip(sizeCount);
  const uint8_t* stream = input.Rest();
  const size_t streamSize = input.RestSize();

  ScriptedReads source(Bytes(stream, stream + streamSize), ReadSizes(sizes, taken, cap), true);
  std::unique_ptr<uint8_t[]> out(new uint8_t[static_cast<size_t>(maxLen)]);
  CarryOver.count = 0;

  // Every call that returns a frame consumes at least one stream byte, and
  // the loop stops at the first call that brings none.
  for (size_t call = 0; call <= streamSize + 1; ++call) {
    const size_t startPos = source.pos;
    const size_t startConsumed = source.pos - static_cast<size_t>(CarryOver.count);
    const bool carried = CarryOver.count > 0;
    const unsigned long readsBefore = source.reads;
    const unsigned long nonEmptyBefore = source.nonEmptyReads;
    source.trailingEmpty = 0;

    const int result = ReceiveFrame(source, out.get(), maxLen, maxIdle);
    FUZZ_CHECK(source.emptyRequests == 0);

    const unsigned long reads = source.reads - readsBefore;
    const unsigned long nonEmpty = source.nonEmptyReads - nonEmptyBefore;
    FUZZ_CHECK(CarryOver.count >= 0 && CarryOver.count < cap);
    if (smallReads) FUZZ_CHECK(CarryOver.count <= 3);
    FUZZ_CHECK(static_cast<size_t>(CarryOver.count) <= source.pos);
    const size_t consumed = source.pos - static_cast<size_t>(CarryOver.count);
    FUZZ_CHECK(consumed >= startConsumed);
    // Bounded by the idle limit: at most maxIdle + 1 empty reads in a row.
    FUZZ_CHECK(reads <= (nonEmpty + 1) * (maxIdle + 1));

    const Found expected = FirstFrame(stream, startConsumed, source.pos, maxLen);
    if (result == -1) {
      FUZZ_CHECK(!expected.complete);
      FUZZ_CHECK(CarryOver.count == 0);
      // The time-out comes exactly after the idle limit's empty reads.
      const bool hadBytes = carried || nonEmpty > 0;
      FUZZ_CHECK(source.trailingEmpty == (hadBytes ? maxIdle : maxIdle + 1u));
      if (source.pos == startPos) break;
      continue;
    }
    FUZZ_CHECK(result >= 2 && result <= maxLen);
    FUZZ_CHECK(out[0] == FRAME_START && out[static_cast<size_t>(result) - 1] == FRAME_END);
    for (int i = 1; i < result - 1; ++i) {
      FUZZ_CHECK(out[static_cast<size_t>(i)] != FRAME_START);
      FUZZ_CHECK(out[static_cast<size_t>(i)] != FRAME_END);
    }
    FUZZ_CHECK(expected.complete);
    FUZZ_CHECK(expected.end == consumed);
    FUZZ_CHECK(expected.end - expected.start == static_cast<size_t>(result));
    FUZZ_CHECK(std::memcmp(out.get(), stream + expected.start, static_cast<size_t>(result)) == 0);
  }
  CarryOver.count = 0;
  return 0;
}

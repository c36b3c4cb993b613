// The stream decoder over arbitrary blocks: frames within their limit, the
// same frames however the stream is cut, each decoded frame stuffed again
// decodes to itself, and a smaller capacity only turns the longer frames into
// rejections.
#include <cstring>
#include <memory>
#include <vector>

#include "frame/frame_codec.h"
#include "frame/frame_stream_decoder.h"
#include "fuzz/fuzz_check.h"
#include "protocol/device_peer.h"
#include "tests/support/bytes.h"
#include "tests/support/decoder_events.h"
#include "tests/support/stuffing_data.h"

namespace {

// Everything the decoder reported, in order, each report checked against
// what it may hold.
class RecordingSink : public EventRecorder {
 public:
  explicit RecordingSink(int capacity = REQUEST_CONTENT_MAX) : capacity_(capacity) {}
  bool OnFrame(const uint8_t* content, int n) override {
    FUZZ_CHECK(n >= 0 && n <= capacity_);
    FUZZ_CHECK(n == 0 || content != nullptr);
    return EventRecorder::OnFrame(content, n);
  }
  void OnReject(FrameReject reason) override {
    FUZZ_CHECK(reason == FrameReject::kBadEscape || reason == FrameReject::kTooLong ||
               reason == FrameReject::kCutShort);
    EventRecorder::OnReject(reason);
  }

 private:
  int capacity_;
};

// A decoder with storage of its own: capacity bytes in an allocation of
// exactly that size, so that a write past the capacity is caught.
struct OwnDecoder {
  explicit OwnDecoder(int capacity = REQUEST_CONTENT_MAX)
      : storage(new uint8_t[static_cast<size_t>(capacity)]), decoder(storage.get(), capacity) {}
  std::unique_ptr<uint8_t[]> storage;
  FrameStreamDecoder decoder;
};

// Feeds data[0,n) from an allocation of exactly n bytes, so that reading past
// a block is caught, and checks the count Feed returns.
void FeedExact(FrameStreamDecoder& decoder, const uint8_t* data, size_t n, RecordingSink& sink) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[n]);
  if (n > 0) std::memcpy(block.get(), data, n);
  const size_t before = sink.frames.size();
  const int delivered = decoder.Feed(block.get(), static_cast<int>(n), sink);
  FUZZ_CHECK(delivered >= 0 && static_cast<size_t>(delivered) == sink.frames.size() - before);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  // First byte: how many of the next bytes give block sizes.
  FuzzInput input(data, size);
  const size_t sizeCount = input.TakeByte() % 16u;
  const uint8_t* sizes = input.Rest();
  const size_t taken = input.Skip(sizeCount);
  const uint8_t* stream = input.Rest();
  const size_t streamSize = input.RestSize();

  // In the blocks the input chooses (sizes 0 to 255, scaled up now and then
  // to cross a whole data frame), with empty and negative feeds in between.
  RecordingSink cut;
  OwnDecoder cutDecoder;
  FrameStreamDecoder& decoder = cutDecoder.decoder;
  size_t pos = 0;
  for (size_t i = 0; pos < streamSize; ++i) {
    size_t n = streamSize - pos;
    if (taken > 0) {
      const uint8_t s = sizes[i % taken];
      n = (s & 0x80) != 0 ? static_cast<size_t>(s & 0x7F) * 16 : s;
      if (n > streamSize - pos) n = streamSize - pos;
    }
    FeedExact(decoder, stream + pos, n, cut);
    pos += n;
    if (n == 0 && taken > 0 && i >= taken * 2 && pos < streamSize) {
      // Only empty blocks left in the schedule: give the rest at once.
      FeedExact(decoder, stream + pos, streamSize - pos, cut);
      pos = streamSize;
    }
  }
  FUZZ_CHECK(decoder.Feed(stream, -1, cut) == 0);

  // All at once, and one byte at a time (which never takes the word-wide path).
  RecordingSink whole;
  OwnDecoder wholeDecoder;
  FeedExact(wholeDecoder.decoder, stream, streamSize, whole);
  RecordingSink single;
  OwnDecoder singleDecoder;
  for (size_t q = 0; q < streamSize; ++q) FeedExact(singleDecoder.decoder, stream + q, 1, single);

  FUZZ_CHECK(cut.events == whole.events);
  FUZZ_CHECK(single.events == whole.events);

  size_t ends = 0;
  for (size_t q = 0; q < streamSize; ++q) ends += stream[q] == FRAME_END ? 1 : 0;
  FUZZ_CHECK(whole.frames.size() <= ends);

  // A smaller capacity (none at all, one below the word size, the reply
  // limit) delivers exactly the frames that fit it and rejects the others.
  for (const int capacity : {0, 7, FRAME_LIMIT}) {
    RecordingSink small(capacity);
    OwnDecoder smallDecoder(capacity);
    FeedExact(smallDecoder.decoder, stream, streamSize, small);
    std::vector<DecoderEvent> fitting;
    size_t dropped = 0;
    for (const DecoderEvent& event : whole.events) {
      if (!event.frame) continue;
      if (event.content.size() <= static_cast<size_t>(capacity)) {
        fitting.push_back(event);
      } else {
        ++dropped;
      }
    }
    std::vector<DecoderEvent> smallFrames;
    size_t tooLong = 0;
    for (const DecoderEvent& event : small.events) {
      if (event.frame) {
        smallFrames.push_back(event);
      } else if (event.reason == FrameReject::kTooLong) {
        ++tooLong;
      }
    }
    FUZZ_CHECK(smallFrames == fitting);
    FUZZ_CHECK(tooLong >= dropped);
  }

  // Stuffed again, each frame decodes to itself on a fresh decoder, alone and
  // behind a Reset of one that was left inside a frame.
  for (const DecoderEvent& event : whole.events) {
    if (!event.frame) continue;
    const Bytes wire = stuffing_test::Framed(event.content);
    RecordingSink again;
    OwnDecoder fresh;
    FeedExact(fresh.decoder, wire.data(), wire.size(), again);
    FUZZ_CHECK(again.events.size() == 1 && again.events[0] == event);

    RecordingSink afterReset;
    OwnDecoder reusedDecoder;
    FrameStreamDecoder& reused = reusedDecoder.decoder;
    const uint8_t partial[] = {FRAME_START, 0x41, FRAME_ESCAPE};
    FeedExact(reused, partial, sizeof partial, afterReset);
    reused.Reset();
    FeedExact(reused, wire.data() + 1, wire.size() - 1, afterReset);
    FUZZ_CHECK(afterReset.events.empty());
    FeedExact(reused, wire.data(), wire.size(), afterReset);
    FUZZ_CHECK(afterReset.events.size() == 1 && afterReset.events[0] == event);
  }
  return 0;
}

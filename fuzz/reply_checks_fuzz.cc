// The reply checks on what a hostile device can make the receiver and the
// decoder deliver: each reads only the content it was given and answers
// within its documented range.
#include <cstring>
#include <memory>

#include "frame/frame_codec.h"
#include "frame/frame_receiver.h"
#include "fuzz/fuzz_check.h"
#include "protocol/app_commands.h"
#include "protocol/device_peer.h"
#include "protocol/loader_commands.h"
#include "protocol/reply.h"
#include "tests/support/bytes.h"
#include "tests/support/scripted_reads.h"

namespace {

void CheckAll(const uint8_t* reply, int n) {
  const int mode = StatusReplyMode(reply, n);
  FUZZ_CHECK(mode >= -1 && mode <= 255);
  if (n >= STATUS_MIN_LENGTH && std::memcmp(reply + APP_TAG_AT, APP_REPLY_TAG, APP_TAG_SIZE) == 0 &&
      reply[APP_COMMAND_AT] == APP_QUERY_MODE) {
    FUZZ_CHECK(mode == reply[STATUS_MODE_AT]);
  } else {
    FUZZ_CHECK(mode == -1);
  }

  const int ready = StateReplyReady(reply, n);
  FUZZ_CHECK(ready >= -1 && ready <= 1);
  FUZZ_CHECK(ready == (n >= STATE_MIN_LENGTH ? (reply[STATE_AT] == STATE_READY ? 1 : 0) : -1));

  const bool ack = IsAcknowledgement(reply, n);
  FUZZ_CHECK(ack == (n >= ACK_MIN_LENGTH && reply[ACK_TYPE_AT] == ACK_TYPE &&
                     reply[ACK_STATUS_AT] == 0x00));

  const DeviceRequest request = ParseRequest(reply, n);
  switch (request.kind) {
    case RequestKind::kApp: {
      FUZZ_CHECK(n == APP_COMMAND_CONTENT_SIZE);
      FUZZ_CHECK(reply[0] == 0 && reply[1] == 0 && reply[APP_LENGTH_AT] == APP_COMMAND_LENGTH);
      FUZZ_CHECK(request.sequence == reply[APP_SEQUENCE_AT] &&
                 request.command == reply[APP_COMMAND_AT]);
      const int crc = ComputeCrc16(reply, n - 2);
      FUZZ_CHECK(request.checkOk == (reply[9] == (crc >> 8) && reply[10] == (crc & 0xFF)));
      break;
    }
    case RequestKind::kLoader:
      // The length decoded by hand: a second opinion on GetBigEndian16.
      FUZZ_CHECK(n >= 3 && (reply[0] << 8 | reply[1]) == n - 2);
      FUZZ_CHECK(request.command == reply[LOADER_COMMAND_AT]);
      FUZZ_CHECK(request.payload == reply + LOADER_PAYLOAD_AT &&
                 request.payloadLength == n - LOADER_PAYLOAD_AT);
      break;
    case RequestKind::kUnknown:
      FUZZ_CHECK(request.payload == nullptr && request.payloadLength == 0);
      break;
    default:
      FUZZ_CHECK(request.kind == RequestKind::kUnknown);  // a kind outside the enum
  }
}

// Runs the checks on a copy of exactly n bytes, so that a read past what the
// reply carried hits the end of the allocation.
void CheckExactCopy(const uint8_t* content, int n) {
  const size_t bytes = n > 0 ? static_cast<size_t>(n) : 0;
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes]);
  if (bytes > 0) std::memcpy(copy.get(), content, bytes);
  CheckAll(copy.get(), n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // No reply at all: the checks must not read anything.
  CheckExactCopy(data, 0);
  CheckExactCopy(data, -1);
  // The input itself as a decoded content, of any length.
  if (size <= 1024) CheckExactCopy(data, static_cast<int>(size));

  // The input as the device's byte stream, read as the tool reads replies:
  // 256-byte frames, reads of at most four bytes whose sizes come from the
  // first input bytes.
  FuzzInput input(data, size);
  const size_t sizeCount = input.TakeByte() % 16u;
  const uint8_t* sizes = input.Rest();
  const size_t taken = input.Skip(sizeCount);
  ScriptedReads source(Bytes(input.Rest(), input.Rest() + input.RestSize()),
                       ReadSizes(sizes, taken, 4), true);
  CarryOver.count = 0;
  uint8_t reply[REPLY_BUFFER_SIZE];
  for (size_t call = 0; call <= size + 1; ++call) {
    const size_t startPos = source.pos;
    const int raw = ReceiveFrame(source, reply, REPLY_BUFFER_SIZE, 2);
    FUZZ_CHECK(source.emptyRequests == 0);
    if (raw < 0) {
      if (source.pos == startPos) break;
      continue;
    }
    const int n = UnescapeFrame(reply, raw);
    FUZZ_CHECK(n >= -1 && n <= FRAME_LIMIT);
    CheckExactCopy(reply, n);
  }
  CarryOver.count = 0;
  return 0;
}

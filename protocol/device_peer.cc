#include "protocol/device_peer.h"

#include <cstring>

#include "protocol/app_commands.h"
#include "protocol/loader_commands.h"
#include "protocol/reply.h"

namespace {

// The application frames' fixed bytes after the length byte.
constexpr uint8_t kAppTag[] = {0x2D, 0x03, 0x4E, 0x53};

// Builds an application reply 00 00 seq <len> body[0,n) crc crc as a raw
// frame in out; n at most FRAME_LIMIT-7.
int BuildAppReply(uint8_t seq, const uint8_t* body, int n, uint8_t* out) {
  int len = 0;
  out[len++] = FRAME_START;
  out[len++] = 0x00;
  out[len++] = 0x00;
  out[len++] = seq;
  out[len++] = static_cast<uint8_t>(n);
  std::memcpy(out + len, body, static_cast<size_t>(n));
  len += n;
  len += 3;  // two check bytes and the end marker
  out[len - 1] = FRAME_END;
  AppendCrc(out, len);
  return EscapeFrame(out, static_cast<uint8_t>(len));
}

// Builds a loader reply <length> command body[0,n) as a raw frame in out; n
// at most FRAME_LIMIT-5.
int BuildLoaderReply(uint8_t command, const uint8_t* body, int n, uint8_t* out) {
  const int length = n + 1;
  int len = 0;
  out[len++] = FRAME_START;
  out[len++] = static_cast<uint8_t>(length >> 8);
  out[len++] = static_cast<uint8_t>(length & 0xFF);
  out[len++] = command;
  std::memcpy(out + len, body, static_cast<size_t>(n));
  len += n;
  out[len++] = FRAME_END;
  return EscapeFrame(out, static_cast<uint8_t>(len));
}

}  // namespace

DeviceRequest ParseRequest(const uint8_t* content, int n) {
  DeviceRequest request{RequestKind::kUnknown, 0, 0, false, nullptr, 0};
  if (n == COMMAND_FRAME_SIZE - 2 && content[0] == 0 && content[1] == 0 && content[3] == 0x05 &&
      std::memcmp(content + 4, kAppTag, sizeof kAppTag) == 0) {
    request.kind = RequestKind::kApp;
    request.sequence = content[2];
    request.command = content[8];
    const int crc = ComputeCrc16(content, n - 2);
    request.checkOk = content[9] == (crc >> 8) && content[10] == (crc & 0xFF);
    return request;
  }
  if (n >= 3 && (content[0] << 8 | content[1]) == n - 2) {
    request.kind = RequestKind::kLoader;
    request.command = content[2];
    request.payload = content + 3;
    request.payloadLength = n - 3;
  }
  return request;
}

int BuildAckReply(uint8_t seq, uint8_t status, uint8_t* out) {
  const uint8_t body[] = {ACK_TYPE, status};
  return BuildAppReply(seq, body, sizeof body, out);
}

int BuildStatusReply(uint8_t seq, uint8_t mode, uint8_t* out) {
  uint8_t body[sizeof STATUS_REPLY_TAG + 1];
  std::memcpy(body, STATUS_REPLY_TAG, sizeof STATUS_REPLY_TAG);
  body[sizeof STATUS_REPLY_TAG] = mode;
  return BuildAppReply(seq, body, sizeof body, out);
}

int BuildAppVersionReply(const char* version, uint8_t* out) {
  uint8_t body[] = {0x2D, 0x04, 0x4E, 0x53, APP_VERSION, 0, 0, 0, 0, 0};
  std::memcpy(body + 5, version, 5);
  return BuildAppReply(0x00, body, sizeof body, out);
}

int BuildLoaderVersionReply(const char* text, uint8_t* out) {
  const size_t n = strnlen(text, LOADER_VERSION_MAX_CHARS);
  return BuildLoaderReply(LOADER_VERSION, reinterpret_cast<const uint8_t*>(text),
                          static_cast<int>(n), out);
}

int BuildStateReply(uint8_t state, uint8_t* out) {
  return BuildLoaderReply(LOADER_DEVICE_STATE, &state, 1, out);
}

int BuildResetReply(uint8_t status, uint8_t* out) {
  const uint8_t body[] = {0x00, ACK_TYPE, status};
  return BuildLoaderReply(LOADER_DEVICE_RESET, body, sizeof body, out);
}

#include "protocol/device_peer.h"

#include <cstring>

#include "protocol/wire_format.h"

namespace {

// Builds an application reply 00 00 seq <n> body[0,n) crc crc as a raw frame
// in out; n at most FRAME_LIMIT-8.
int BuildAppReply(uint8_t seq, const uint8_t* body, int n, uint8_t* out) {
  out[0] = FRAME_START;
  uint8_t* content = out + 1;
  content[0] = 0x00;
  content[1] = 0x00;
  content[APP_SEQUENCE_AT] = seq;
  content[APP_LENGTH_AT] = static_cast<uint8_t>(n);
  std::memcpy(content + APP_TAG_AT, body, static_cast<size_t>(n));
  const int len = 1 + APP_TAG_AT + n + 3;  // two check bytes and the end marker
  out[len - 1] = FRAME_END;
  AppendCrc(out, len);
  return EscapeFrame(out, static_cast<uint8_t>(len));
}

// Builds a loader reply <length> command body[0,n) as a raw frame in out; n
// at most FRAME_LIMIT-5.
int BuildLoaderReply(uint8_t command, const uint8_t* body, int n, uint8_t* out) {
  out[0] = FRAME_START;
  uint8_t* content = out + 1;
  PutBigEndian16(content + LOADER_LENGTH_AT, n + 1);
  content[LOADER_COMMAND_AT] = command;
  std::memcpy(content + LOADER_PAYLOAD_AT, body, static_cast<size_t>(n));
  const int len = 1 + LOADER_PAYLOAD_AT + n + 1;
  out[len - 1] = FRAME_END;
  return EscapeFrame(out, static_cast<uint8_t>(len));
}

// Body of a status or version reply: the reply tag, command, then value[0,n).
int TaggedBody(uint8_t command, const void* value, int n, uint8_t* body) {
  std::memcpy(body, APP_REPLY_TAG, APP_TAG_SIZE);
  body[APP_TAG_SIZE] = command;
  std::memcpy(body + APP_TAG_SIZE + 1, value, static_cast<size_t>(n));
  return APP_TAG_SIZE + 1 + n;
}

}  // namespace

DeviceRequest ParseRequest(const uint8_t* content, int n) {
  DeviceRequest request{RequestKind::kUnknown, 0, 0, false, nullptr, 0};
  if (n == APP_COMMAND_CONTENT_SIZE && content[0] == 0 && content[1] == 0 &&
      content[APP_LENGTH_AT] == APP_COMMAND_LENGTH &&
      std::memcmp(content + APP_TAG_AT, APP_COMMAND_TAG, APP_TAG_SIZE) == 0) {
    request.kind = RequestKind::kApp;
    request.sequence = content[APP_SEQUENCE_AT];
    request.command = content[APP_COMMAND_AT];
    const int crc = ComputeCrc16(content, n - 2);
    request.checkOk = GetBigEndian16(content + n - 2) == crc;
    return request;
  }
  if (n >= LOADER_PAYLOAD_AT && GetBigEndian16(content + LOADER_LENGTH_AT) == n - 2) {
    request.kind = RequestKind::kLoader;
    request.command = content[LOADER_COMMAND_AT];
    request.payload = content + LOADER_PAYLOAD_AT;
    request.payloadLength = n - LOADER_PAYLOAD_AT;
  }
  return request;
}

int BuildAckReply(uint8_t seq, uint8_t status, uint8_t* out) {
  const uint8_t body[] = {ACK_TYPE, status};
  return BuildAppReply(seq, body, sizeof body, out);
}

int BuildStatusReply(uint8_t seq, uint8_t mode, uint8_t* out) {
  uint8_t body[APP_TAG_SIZE + 2];
  return BuildAppReply(seq, body, TaggedBody(APP_QUERY_MODE, &mode, 1, body), out);
}

int BuildAppVersionReply(const char* version, uint8_t* out) {
  uint8_t body[APP_TAG_SIZE + 1 + APP_VERSION_CHARS];
  return BuildAppReply(0x00, body, TaggedBody(APP_VERSION, version, APP_VERSION_CHARS, body), out);
}

int BuildLoaderVersionReply(const uint8_t* text, int n, uint8_t* out) {
  return BuildLoaderReply(LOADER_VERSION, text,
                          n < LOADER_VERSION_MAX_CHARS ? n : LOADER_VERSION_MAX_CHARS, out);
}

int BuildLoaderVersionReply(const char* text, uint8_t* out) {
  const size_t n = strnlen(text, LOADER_VERSION_MAX_CHARS);
  return BuildLoaderVersionReply(reinterpret_cast<const uint8_t*>(text), static_cast<int>(n), out);
}

int BuildStateReply(uint8_t state, uint8_t* out) {
  return BuildLoaderReply(LOADER_DEVICE_STATE, &state, 1, out);
}

int BuildResetReply(uint8_t status, uint8_t* out) {
  // The acknowledgement's positions, as in the application command set.
  uint8_t body[ACK_MIN_LENGTH - LOADER_PAYLOAD_AT] = {};
  body[ACK_TYPE_AT - LOADER_PAYLOAD_AT] = ACK_TYPE;
  body[ACK_STATUS_AT - LOADER_PAYLOAD_AT] = status;
  return BuildLoaderReply(LOADER_DEVICE_RESET, body, sizeof body, out);
}

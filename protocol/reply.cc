#include "protocol/reply.h"

#include <cstdio>
#include <cstring>

#include "frame/frame_codec.h"
#include "frame/frame_receiver.h"
#include "net/tcp_endpoint.h"

int ReadReply(TcpEndpoint& endpoint, uint8_t* reply) {
  const int raw = ReceiveFrame(endpoint, reply, REPLY_BUFFER_SIZE, REPLY_IDLE_LIMIT);
  return UnescapeFrame(reply, raw);
}

void KeepVersionText(const uint8_t* text, int n, VersionText* version) {
  if (version == nullptr) return;
  version->length = n > 0 ? n : 0;
  if (version->length > 0) std::memcpy(version->bytes, text, static_cast<size_t>(version->length));
}

bool IsAcknowledgement(const uint8_t* reply, int n) {
  return n >= ACK_MIN_LENGTH && reply[ACK_TYPE_AT] == ACK_TYPE && reply[ACK_STATUS_AT] == 0x00;
}

void PrintHexBytes(const uint8_t* reply, int n) {
  for (int i = 0; i < n; ++i) std::printf("%2x ", reply[i]);
}

void PrintVersionText(const uint8_t* text, int n) {
  for (int i = 0; i < n; ++i) {
    const uint8_t c = text[i];
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    std::printf("%c", control ? '.' : c);
  }
}

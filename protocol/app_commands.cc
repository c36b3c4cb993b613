#include "protocol/app_commands.h"

#include <cstdio>
#include <cstring>

#include "frame/frame_codec.h"
#include "net/tcp_endpoint.h"
#include "protocol/reply.h"

uint8_t sequenceCounter = 1;

namespace {

// Builds and sends one command frame; counted commands use up a sequence
// number even when the send fails. Returns 0, or -1 after
// "Socket Write Error\n".
int SendCommand(TcpEndpoint& endpoint, uint8_t command) {
  uint8_t seq = 0;
  if (command != APP_VERSION) seq = sequenceCounter++;
  uint8_t frame[COMMAND_FRAME_MAX_RAW];
  const int len = BuildCommandFrame(command, seq, frame);
  if (endpoint.Send(frame, len) != 0) {
    std::printf("Socket Write Error\n");
    return -1;
  }
  return 0;
}

}  // namespace

int BuildCommandFrame(uint8_t command, uint8_t seq, uint8_t* frame) {
  std::memset(frame, 0, COMMAND_FRAME_SIZE);
  frame[0] = FRAME_START;
  uint8_t* content = frame + 1;
  content[APP_SEQUENCE_AT] = seq;
  content[APP_LENGTH_AT] = APP_COMMAND_LENGTH;
  std::memcpy(content + APP_TAG_AT, APP_COMMAND_TAG, APP_TAG_SIZE);
  content[APP_COMMAND_AT] = command;
  frame[COMMAND_FRAME_SIZE - 1] = FRAME_END;
  AppendCrc(frame, COMMAND_FRAME_SIZE);
  return EscapeFrame(frame, COMMAND_FRAME_SIZE);
}

int StatusReplyMode(const uint8_t* reply, int n) {
  if (n < STATUS_MIN_LENGTH) return -1;
  if (std::memcmp(reply + APP_TAG_AT, APP_REPLY_TAG, APP_TAG_SIZE) != 0 ||
      reply[APP_COMMAND_AT] != APP_QUERY_MODE) {
    return -1;
  }
  return reply[STATUS_MODE_AT];
}

int QueryDeviceMode(TcpEndpoint& endpoint) {
  if (SendCommand(endpoint, APP_QUERY_MODE) != 0) return -1;
  uint8_t reply[REPLY_BUFFER_SIZE];
  int n = ReadReply(endpoint, reply);
  if (!IsAcknowledgement(reply, n)) {
    std::printf("Read Err\n");
    return -1;
  }
  std::printf("Ack Frame received: ok\r\n");
  std::printf("Status lesen... ");
  n = ReadReply(endpoint, reply);
  std::printf("ok\r\n");
  if (n <= 0) return -1;
  std::printf("\r\nStatus received..");
  const int mode = StatusReplyMode(reply, n);
  if (mode < 0) return -1;
  std::printf("ok\r\n");
  return mode;
}

int RequestAppVersion(TcpEndpoint& endpoint, VersionText* version) {
  if (SendCommand(endpoint, APP_VERSION) != 0) return -1;
  uint8_t reply[REPLY_BUFFER_SIZE];
  int n = ReadReply(endpoint, reply);
  if (!IsAcknowledgement(reply, n)) return -1;
  n = ReadReply(endpoint, reply);
  if (n <= 0) return -1;
  std::printf("\r\nVersion received: %d\r\n", n);
  PrintHexBytes(reply, n);
  // A short reply shows only the version characters it carried.
  std::printf("\r\nVersion ");
  const int carried = n - APP_VERSION_TEXT_AT;
  const int shown = carried < APP_VERSION_CHARS ? carried : APP_VERSION_CHARS;
  PrintVersionText(reply + APP_VERSION_TEXT_AT, shown);
  std::printf("\r\n");
  KeepVersionText(reply + APP_VERSION_TEXT_AT, shown, version);
  return 0;
}

int StartUpdateMode(TcpEndpoint& endpoint) {
  if (SendCommand(endpoint, APP_START_UPDATE) != 0) return -1;
  std::printf("Write Update Command ok\n");
  uint8_t reply[REPLY_BUFFER_SIZE];
  const int n = ReadReply(endpoint, reply);
  if (!IsAcknowledgement(reply, n)) return -1;
  std::printf("Ack Frame received: %d\r\n", n);
  PrintHexBytes(reply, n);
  return 0;
}

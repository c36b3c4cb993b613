#include "protocol/app_commands.h"

#include <cstdio>
#include <cstring>

#include "frame/frame_codec.h"
#include "net/tcp_endpoint.h"
#include "protocol/reply.h"

uint8_t sequenceCounter = 1;

namespace {

constexpr int STATUS_MIN_LENGTH = 10;
constexpr int VERSION_FIRST_CHAR = 9;
constexpr int VERSION_CHARS = 5;

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
  const uint8_t plain[COMMAND_FRAME_SIZE] = {FRAME_START, 0x00, 0x00,    seq,  0x05, 0x2D,     0x03,
                                             0x4E,        0x53, command, 0x00, 0x00, FRAME_END};
  for (int i = 0; i < COMMAND_FRAME_SIZE; ++i) frame[i] = plain[i];
  AppendCrc(frame, COMMAND_FRAME_SIZE);
  return EscapeFrame(frame, COMMAND_FRAME_SIZE);
}

int StatusReplyMode(const uint8_t* reply, int n) {
  if (n < STATUS_MIN_LENGTH) return -1;
  if (std::memcmp(reply + 4, STATUS_REPLY_TAG, sizeof STATUS_REPLY_TAG) != 0) return -1;
  return reply[9];
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

int RequestAppVersion(TcpEndpoint& endpoint) {
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
  const int carried = n - VERSION_FIRST_CHAR;
  PrintVersionText(reply + VERSION_FIRST_CHAR, carried < VERSION_CHARS ? carried : VERSION_CHARS);
  std::printf("\r\n");
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

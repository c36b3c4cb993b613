#include "protocol/loader_commands.h"

#include <chrono>
#include <cstdio>

#include "frame/frame_codec.h"
#include "net/tcp_endpoint.h"
#include "protocol/reply.h"

namespace {

struct FixedFrame {
  uint8_t command;
  uint8_t len;
  uint8_t bytes[9];
};

constexpr FixedFrame kFixedFrames[] = {
    {LOADER_CLOSE, 5, {0xFE, 0x00, 0x01, 0x01, 0xFF}},
    {LOADER_START_FLASH, 5, {0xFE, 0x00, 0x01, 0x04, 0xFF}},
    {LOADER_RESET_FLASHDATA, 5, {0xFE, 0x00, 0x01, 0x05, 0xFF}},
    {LOADER_DEVICE_STATE, 5, {0xFE, 0x00, 0x01, 0x06, 0xFF}},
    {LOADER_DEVICE_RESET, 5, {0xFE, 0x00, 0x01, 0x07, 0xFF}},
    {LOADER_SET_OFFSET, 9, {0xFE, 0x00, 0x05, 0x08, 0x00, 0x10, 0x00, 0x00, 0xFF}},
    {LOADER_VERSION, 5, {0xFE, 0x00, 0x01, 0x09, 0xFF}},
};

}  // namespace

const uint8_t* FixedLoaderFrame(uint8_t command, int* len) {
  for (const FixedFrame& f : kFixedFrames) {
    if (f.command == command) {
      *len = f.len;
      return f.bytes;
    }
  }
  return nullptr;
}

int BuildDataFrame(const uint8_t* block, int n, uint8_t* frame) {
  uint8_t length[2];
  PutBigEndian16(length, n + 1);
  int out = 0;
  frame[out++] = FRAME_START;
  out += StuffByte(length[0], frame + out);
  out += StuffByte(length[1], frame + out);
  frame[out++] = LOADER_DATA;
  out += StuffBytes(block, n, frame + out);
  frame[out++] = FRAME_END;
  return out;
}

int SendLoaderCommand(TcpEndpoint& endpoint, uint8_t command) {
  int len = 0;
  const uint8_t* frame = FixedLoaderFrame(command, &len);
  if (frame == nullptr) return -1;
  return endpoint.Send(frame, len);
}

int RequestLoaderVersion(TcpEndpoint& endpoint, VersionText* version) {
  if (SendLoaderCommand(endpoint, LOADER_VERSION) != 0) {
    std::printf("Socket Write Error\n");
    return -1;
  }
  uint8_t reply[REPLY_BUFFER_SIZE];
  const int n = ReadReply(endpoint, reply);
  if (n <= 0) return -1;
  std::printf("\r\nUpdateloader Version received: ");
  PrintVersionText(reply + LOADER_VERSION_TEXT_AT, n - LOADER_VERSION_TEXT_AT);
  KeepVersionText(reply + LOADER_VERSION_TEXT_AT, n - LOADER_VERSION_TEXT_AT, version);
  return 0;
}

int SendImageBlock(TcpEndpoint& endpoint, const uint8_t* block, int n) {
  uint8_t frame[DATA_FRAME_MAX];
  return endpoint.Send(frame, BuildDataFrame(block, n, frame));
}

int TransferImage(TcpEndpoint& endpoint, FILE* image, long long size, TransferObserver* observer) {
  uint8_t block[IMAGE_BLOCK_SIZE];
  for (long long left = size;; left -= IMAGE_BLOCK_SIZE) {
    const bool last = left < IMAGE_BLOCK_SIZE;
    const size_t want = last ? static_cast<size_t>(left) : sizeof block;
    const size_t n = std::fread(block, 1, want, image);
    // A byte past the size means the file grew: the frame would end a torn image.
    bool changed = n != want || (last && std::fgetc(image) != EOF);
    const bool unreadable = std::ferror(image) != 0;
    if (!unreadable && !changed && observer != nullptr) {
      changed = !observer->ApproveFrame(block, static_cast<int>(n), last);
    }
    if (unreadable || changed) {
      if (observer != nullptr) observer->TransferWillPrint();
      std::fputs(unreadable ? "Image read error\n" : "Image changed during the transfer\n", stdout);
      return unreadable ? TRANSFER_UNREADABLE : TRANSFER_CHANGED;
    }
    if (SendImageBlock(endpoint, block, static_cast<int>(n)) != 0) return TRANSFER_NOT_SENT;
    if (observer != nullptr) observer->TransferAdvanced(size - left + static_cast<long long>(n));
    if (last) return 0;
  }
}

int StateReplyReady(const uint8_t* reply, int n) {
  if (n < STATE_MIN_LENGTH) return -1;
  return reply[STATE_AT] == STATE_READY ? 1 : 0;
}

int WaitUntilReady(TcpEndpoint& endpoint, int silenceLimitMs, int busyLimitMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  Clock::time_point lastReply = start;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now - lastReply >= std::chrono::milliseconds(silenceLimitMs)) return READY_SILENT;
    if (now - start >= std::chrono::milliseconds(busyLimitMs)) return READY_NEVER;
    Sleep(STATE_POLL_PAUSE_MS);
    if (SendLoaderCommand(endpoint, LOADER_DEVICE_STATE) != 0) continue;
    std::printf("Device State: ");
    uint8_t reply[REPLY_BUFFER_SIZE];
    const int ready = StateReplyReady(reply, ReadReply(endpoint, reply));
    if (ready < 0) continue;
    lastReply = Clock::now();
    if (ready == 1) {
      std::printf("ready\r\n");
      return 0;
    }
    std::printf("busy\r\n");
  }
}

int ResetDevice(TcpEndpoint& endpoint) {
  if (SendLoaderCommand(endpoint, LOADER_DEVICE_RESET) != 0) return -1;
  uint8_t reply[REPLY_BUFFER_SIZE];
  const int n = ReadReply(endpoint, reply);
  std::printf("Ack Frame received: %d\r\n", n);
  PrintHexBytes(reply, n);
  if (IsAcknowledgement(reply, n)) {
    std::printf(" Restarting Device ok\r\n");
    return 0;
  }
  std::printf(" Error Restarting Device\r\n");
  return -2;
}

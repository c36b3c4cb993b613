#include "frame/frame_codec.h"

#include <cstring>

int StuffBytes(const uint8_t* in, int n, uint8_t* out) {
  // Eight bytes at a time while none needs stuffing: image data rarely holds
  // such bytes, so most words are copied whole.
  int i = 0;
  int o = 0;
  while (i + 8 <= n) {
    uint64_t word;
    std::memcpy(&word, in + i, 8);
    if (!WordNeedsStuffing(word)) {
      std::memcpy(out + o, &word, 8);
      o += 8;
      i += 8;
      continue;
    }
    for (const int end = i + 8; i < end; ++i) o += StuffByte(in[i], out + o);
  }
  for (; i < n; ++i) o += StuffByte(in[i], out + o);
  return o;
}

int ComputeCrc16(const uint8_t* data, int count) {
  uint16_t crc = 0xFFFF;
  for (int i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>((crc >> 8) | (crc << 8));
    crc ^= data[i];
    crc ^= static_cast<uint16_t>((crc & 0xFF) >> 4);
    crc ^= static_cast<uint16_t>(crc << 12);
    crc ^= static_cast<uint16_t>((crc & 0xFF) << 5);
  }
  return crc ^ 0xFFFF;
}

void AppendCrc(uint8_t* frame, int len) {
  const int crc = ComputeCrc16(frame + 1, len - 4);
  frame[len - 3] = static_cast<uint8_t>(crc >> 8);
  frame[len - 2] = static_cast<uint8_t>(crc & 0xFF);
}

int VerifyCrc(const uint8_t* frame, int len) {
  if (len < 4) return -1;
  if (frame[len - 2] == 'R' && frame[len - 1] == 'S') return 0;
  const int crc = ComputeCrc16(frame + 1, len - 4);
  if (static_cast<uint8_t>(crc >> 8) != frame[len - 3]) return -1;
  if (static_cast<uint8_t>(crc & 0xFF) != frame[len - 2]) return -1;
  return 0;
}

int EscapeFrame(uint8_t* frame, uint8_t len) {
  if (len > FRAME_LIMIT) return 0;
  uint8_t work[2 * FRAME_LIMIT - 2];
  int out = 0;
  work[out++] = FRAME_START;
  if (len > 2) out += StuffBytes(frame + 1, len - 2, work + out);
  work[out++] = FRAME_END;
  std::memcpy(frame, work, out);
  return out;
}

int UnescapeFrame(uint8_t* frame, int len) {
  uint8_t work[FRAME_LIMIT];
  int out = 0;
  for (int i = 1; i < len - 1; ++i) {
    uint8_t b = frame[i];
    if (b == FRAME_ESCAPE) {
      const uint8_t code = frame[++i];
      if (code > 2) return -1;
      b = static_cast<uint8_t>(FRAME_ESCAPE + code);
    }
    if (out == FRAME_LIMIT) return -1;
    work[out++] = b;
  }
  if (out > 0) std::memcpy(frame, work, out);
  return out;
}

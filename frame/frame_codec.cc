#include "frame/frame_codec.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int StuffBytesPortable(const uint8_t* in, int n, uint8_t* out) {
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

#if defined(__SSE2__)

namespace {

// StuffByte without a branch: always writes out[0] and out[1] (out[1] is
// scratch when b needs no stuffing) and returns 1 or 2. Byte values decide
// nothing, so mixed data costs no mispredictions.
inline int StuffByteBranchFree(uint8_t b, uint8_t* out) {
  const int stuffed = b >= FRAME_ESCAPE ? 1 : 0;
  out[0] = stuffed != 0 ? FRAME_ESCAPE : b;
  out[1] = static_cast<uint8_t>(b - FRAME_ESCAPE);
  return 1 + stuffed;
}

}  // namespace

// Sixteen bytes at a time. A group without marker values is copied whole; a
// group of nothing but marker values (erased-flash padding is all 0xFF) is
// widened to 32 bytes by interleaving FRAME_ESCAPE with the escape codes; a
// mixed group copies the runs between its marker bytes with 16-byte moves.
//
// Bounds: before the group in[i,i+16) the output holds o <= 2i bytes, so
// whole-group stores end at o+32 <= 2n. A mixed group's moves read
// in[i+at,i+at+16) and write out[o',o'+16) with at <= 16 and o' <= 2i+2*at:
// inside in[0,n) and out[0,2n) when i+32 <= n; a mixed group nearer the end
// goes byte by byte. Bytes written past the result are scratch.
int StuffBytes(const uint8_t* in, int n, uint8_t* out) {
  const __m128i escape = _mm_set1_epi8(static_cast<char>(FRAME_ESCAPE));
  int i = 0;
  int o = 0;
  while (i + 16 <= n) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    // b >= 0xFD exactly when max(b, 0xFD) == b (unsigned).
    int marks = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, escape), v));
    if (marks == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), v);
      o += 16;
      i += 16;
      continue;
    }
    if (marks == 0xFFFF) {
      const __m128i codes = _mm_sub_epi8(v, escape);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_unpacklo_epi8(escape, codes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 16), _mm_unpackhi_epi8(escape, codes));
      o += 32;
      i += 16;
      continue;
    }
    if (i + 32 > n) {
      for (const int end = i + 16; i < end; ++i) o += StuffByteBranchFree(in[i], out + o);
      continue;
    }
    int at = 0;  // first group byte not yet written
    do {
      const int k = __builtin_ctz(static_cast<unsigned>(marks));
      marks &= marks - 1;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + at)));
      o += k - at;
      out[o] = FRAME_ESCAPE;
      out[o + 1] = static_cast<uint8_t>(in[i + k] - FRAME_ESCAPE);
      o += 2;
      at = k + 1;
    } while (marks != 0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + at)));
    o += 16 - at;
    i += 16;
  }
  for (; i < n; ++i) o += StuffByteBranchFree(in[i], out + o);
  return o;
}

#else

int StuffBytes(const uint8_t* in, int n, uint8_t* out) { return StuffBytesPortable(in, n, out); }

#endif

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

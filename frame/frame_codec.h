// Frame markers, byte stuffing and the CRC-16 shared by both command sets.
//
// A plain frame is what a sender builds: FRAME_START, content, FRAME_END.
// Its raw form is what travels: every 0xFD, 0xFE or 0xFF of the content is
// stuffed behind FRAME_ESCAPE. The decoded content is a raw frame with its
// markers removed and its stuffing undone.
#ifndef TCPFLASH_FRAME_FRAME_CODEC_H_
#define TCPFLASH_FRAME_FRAME_CODEC_H_

#include <cstdint>

constexpr uint8_t FRAME_START = 0xFE;
constexpr uint8_t FRAME_END = 0xFF;
constexpr uint8_t FRAME_ESCAPE = 0xFD;

// Longest plain frame EscapeFrame accepts and longest content UnescapeFrame
// delivers.
constexpr int FRAME_LIMIT = 50;

// True for the three byte values that are stuffed inside a frame.
inline bool NeedsStuffing(uint8_t b) { return b >= FRAME_ESCAPE; }

// True when one of the eight bytes packed in word needs stuffing: a byte is
// FRAME_ESCAPE or above exactly when its high bit is set and its low seven
// bits plus 3 carry into bit 7. Masking the high bits first keeps the
// additions from carrying into the next byte. Lets the stuffing and the
// stream decoder pass plain data eight bytes at a time.
inline bool WordNeedsStuffing(uint64_t word) {
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  constexpr uint64_t kLow = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kThree = 0x0303030303030303ULL;
  return (((word & kLow) + kThree) & word & kHigh) != 0;
}

// Appends the raw form of one content byte at out and returns the number of
// bytes written (1 or 2); out must hold 2 bytes.
inline int StuffByte(uint8_t b, uint8_t* out) {
  if (!NeedsStuffing(b)) {
    out[0] = b;
    return 1;
  }
  out[0] = FRAME_ESCAPE;
  out[1] = static_cast<uint8_t>(b - FRAME_ESCAPE);
  return 2;
}

// Writes the raw form of the content bytes in[0,n) to out[0,result) and
// returns result, n to 2n. Reads only in[0,n); out must hold 2n bytes and
// must not overlap in; out[result,2n) may be overwritten as scratch.
int StuffBytes(const uint8_t* in, int n, uint8_t* out);

// The same as StuffBytes, eight bytes at a time in plain C++: what StuffBytes
// runs on targets without SSE2. Writes only out[0,result).
int StuffBytesPortable(const uint8_t* in, int n, uint8_t* out);

// CRC-16/GENIBUS (poly 0x1021, init 0xFFFF, final XOR 0xFFFF, not reflected)
// of data[0,count). A count of 0 or less reads nothing and yields 0x0000.
int ComputeCrc16(const uint8_t* data, int count);

// Writes the CRC of frame[1,len-4] into frame[len-3] (high byte) and
// frame[len-2] (low byte). frame must hold len bytes, len at least 4.
void AppendCrc(uint8_t* frame, int len);

// Checks the CRC that AppendCrc wrote into frame[0,len); frame is not changed.
// A frame ending in 'R' 'S' is accepted unchecked. Returns 0 when accepted,
// -1 when not (and for len under 4).
int VerifyCrc(const uint8_t* frame, int len);

// Replaces the plain frame[0,len) by its raw form. frame[0] and frame[len-1]
// are not read: the markers are written afresh. frame must hold the raw form;
// max(2, 2*len-2) bytes always suffice. Returns the raw length (2 for len up
// to 2), or 0 with frame unchanged when len exceeds FRAME_LIMIT.
int EscapeFrame(uint8_t* frame, uint8_t len);

// Replaces the raw frame[0,len) by its decoded content, written from
// frame[0]; bytes past the content keep their values. frame[0] and, unless it
// follows an escape byte, frame[len-1] are not read. Returns the content
// length (0 to FRAME_LIMIT), 0 for len up to 2, or -1 with frame unchanged
// for a bad escape code or content longer than FRAME_LIMIT.
int UnescapeFrame(uint8_t* frame, int len);

#endif  // TCPFLASH_FRAME_FRAME_CODEC_H_

// The device's side of the wire for the protocol tests: its replies as raw
// frames, and the frames the tool sent, decoded.
#ifndef TCPFLASH_TESTS_SUPPORT_REPLIES_H_
#define TCPFLASH_TESTS_SUPPORT_REPLIES_H_

#include <cstdint>
#include <vector>

#include "tests/support/bytes.h"

// The device's replies as raw frames, stuffed and between markers.
Bytes AckReply(uint8_t seq, uint8_t status = 0);
Bytes StatusReply(uint8_t seq, uint8_t mode);
Bytes AppVersionReply(const char* version);
Bytes LoaderVersionReply(const char* text);
Bytes StateReply(uint8_t state);
Bytes ResetReply(uint8_t status);

// Splits a stream of raw frames into their decoded contents, by a reading of
// the markers and the stuffing of its own (a second opinion on the codec).
// Bytes outside frames are ignored; a bad escape code fails the test.
std::vector<Bytes> DecodeFrames(const Bytes& stream);

#endif  // TCPFLASH_TESTS_SUPPORT_REPLIES_H_

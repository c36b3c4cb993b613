// Reading and judging the device's replies, common to both command sets.
#ifndef TCPFLASH_PROTOCOL_REPLY_H_
#define TCPFLASH_PROTOCOL_REPLY_H_

#include <cstdint>

#include "protocol/wire_format.h"

class TcpEndpoint;

constexpr int REPLY_BUFFER_SIZE = 256;
constexpr unsigned REPLY_IDLE_LIMIT = 1000;

// A version text as the board sent it: any bytes, NUL included.
struct VersionText {
  uint8_t bytes[REPLY_BUFFER_SIZE];
  int length = 0;
};

// Copies text[0,n) into version (nothing when version is null; n <= 0 makes
// it empty). n must be at most REPLY_BUFFER_SIZE.
void KeepVersionText(const uint8_t* text, int n, VersionText* version);

// Reads one reply frame into reply[0,REPLY_BUFFER_SIZE) and decodes it in
// place. Returns the decoded length n (reply[0,n) holds the content); 0 or
// less means no usable reply (time-out, empty or undecodable frame).
int ReadReply(TcpEndpoint& endpoint, uint8_t* reply);

// True when the decoded reply[0,n) carries an acknowledgement with status 0.
bool IsAcknowledgement(const uint8_t* reply, int n);

// Prints reply[0,n) as "%2x " fields; nothing for n <= 0.
void PrintHexBytes(const uint8_t* reply, int n);

// Prints text[0,n) as characters, each terminal control byte (below 0x20,
// 0x7F, 0x80 to 0x9F) as '.', so that a board cannot drive the operator's
// console; nothing for n <= 0.
void PrintVersionText(const uint8_t* text, int n);

#endif  // TCPFLASH_PROTOCOL_REPLY_H_

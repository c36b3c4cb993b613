// The device's side of both command sets: how it recognises what the tool
// sends and the replies it gives. The simulator answers with these, and the
// tests use them to play the device.
#ifndef TCPFLASH_PROTOCOL_DEVICE_PEER_H_
#define TCPFLASH_PROTOCOL_DEVICE_PEER_H_

#include <cstdint>

#include "frame/frame_codec.h"
#include "protocol/loader_commands.h"
#include "protocol/wire_format.h"

// Every reply is built as a plain frame of at most FRAME_LIMIT bytes, so its
// raw form fits this many bytes.
constexpr int DEVICE_REPLY_MAX = 2 * FRAME_LIMIT - 2;

// Longest decoded content of a frame from the tool: a full data frame's two
// length bytes, command byte and image bytes. Its raw form is at most
// DATA_FRAME_MAX bytes.
constexpr int REQUEST_CONTENT_MAX = IMAGE_BLOCK_SIZE + 3;

// Longest loader version text a reply carries.
constexpr int LOADER_VERSION_MAX_CHARS = FRAME_LIMIT - 5;

enum class RequestKind {
  kUnknown,
  kApp,     // a CommandFrame of the application command set
  kLoader,  // a LoaderFrame of the update-loader command set
};

// One frame the tool sent, as the device understands it.
struct DeviceRequest {
  RequestKind kind;
  uint8_t command;
  uint8_t sequence;        // kApp only
  bool checkOk;            // kApp: the CRC matches
  const uint8_t* payload;  // kLoader: points into the parsed content
  int payloadLength;       // kLoader
};

// Classifies the decoded content[0,n) of a frame from the tool: an
// application command (00 00 seq 05 2D 03 4E 53 cmd crc crc) or a loader
// frame (length high, length low, command, payload) whose length matches n.
// Anything else is kUnknown. Reads only content[0,n).
DeviceRequest ParseRequest(const uint8_t* content, int n);

// Each Build*Reply writes one raw reply frame into out, which must hold
// DEVICE_REPLY_MAX bytes, and returns its length.

// Acknowledgement (ACK_TYPE at decoded index 4, status at 5) of the
// application command with sequence number seq.
int BuildAckReply(uint8_t seq, uint8_t status, uint8_t* out);
// Status reply to a mode query: 2D 04 4E 53 02 at decoded indexes 4 to 8,
// mode at 9.
int BuildStatusReply(uint8_t seq, uint8_t mode, uint8_t* out);
// Application version reply: the five characters version[0,5) at decoded
// indexes 9 to 13.
int BuildAppVersionReply(const char* version, uint8_t* out);
// Loader version reply: text[0,n) (any bytes; at most
// LOADER_VERSION_MAX_CHARS of them, the rest is cut) from decoded index 3 on.
int BuildLoaderVersionReply(const uint8_t* text, int n, uint8_t* out);
// The same for the zero-terminated text.
int BuildLoaderVersionReply(const char* text, uint8_t* out);
// Device state reply: state at decoded index 3, 0x00 ready, else busy.
int BuildStateReply(uint8_t state, uint8_t* out);
// Reply to the reset command: ACK_TYPE at decoded index 4, status at 5.
int BuildResetReply(uint8_t status, uint8_t* out);

#endif  // TCPFLASH_PROTOCOL_DEVICE_PEER_H_

// The application firmware's command set: 13-byte command frames with a
// sequence number and a CRC-16.
#ifndef TCPFLASH_PROTOCOL_APP_COMMANDS_H_
#define TCPFLASH_PROTOCOL_APP_COMMANDS_H_

#include <cstdint>

#include "protocol/reply.h"
#include "protocol/wire_format.h"

class TcpEndpoint;

// A plain command frame: markers, content and its two check bytes.
constexpr int COMMAND_FRAME_SIZE = APP_COMMAND_CONTENT_SIZE + 2;
// A command frame on the wire: only the sequence number and the two check
// bytes can need stuffing.
constexpr int COMMAND_FRAME_MAX_RAW = COMMAND_FRAME_SIZE + 3;

// Sequence number of the next counted command (mode query, start update);
// 1 at process start, wraps after 255, never reset.
extern uint8_t sequenceCounter;

// Builds the raw CommandFrame for command with sequence number seq into
// frame, which must hold COMMAND_FRAME_MAX_RAW bytes. Returns its length,
// 13 to 16.
int BuildCommandFrame(uint8_t command, uint8_t seq, uint8_t* frame);

// The device mode carried by the decoded status reply[0,n), 0 to 255, or -1
// when reply is no status reply. Reads only reply[0,n).
int StatusReplyMode(const uint8_t* reply, int n);

// Asks which firmware runs. Returns the device mode 0 to 255 (MODE_*), or -1
// when the command could not be sent or a reply was missing or unexpected.
int QueryDeviceMode(TcpEndpoint& endpoint);

// Reads and prints the application's version and, when version is not null,
// keeps the characters the reply carried (at most APP_VERSION_CHARS) there.
// Returns 0, or -1 (version then untouched).
int RequestAppVersion(TcpEndpoint& endpoint, VersionText* version = nullptr);

// Tells the application to start the update loader. Returns 0 when the
// device acknowledged, -1 otherwise.
int StartUpdateMode(TcpEndpoint& endpoint);

#endif  // TCPFLASH_PROTOCOL_APP_COMMANDS_H_

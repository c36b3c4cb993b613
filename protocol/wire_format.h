// The device protocol's frame contents, shared by the tool's two command
// sets, the device's side of them, the simulator, the tests and the fuzzers.
//
// Positions (*_AT) are decoded indexes: byte k of a frame's content once its
// markers are removed and its stuffing undone, which is byte k+1 of the plain
// frame its sender built.
#ifndef TCPFLASH_PROTOCOL_WIRE_FORMAT_H_
#define TCPFLASH_PROTOCOL_WIRE_FORMAT_H_

#include <cstdint>

// ---- Application command set: 00 00 seq len tag... crc crc

constexpr uint8_t APP_QUERY_MODE = 0x02;
constexpr uint8_t APP_START_UPDATE = 0x03;
constexpr uint8_t APP_VERSION = 0x09;

constexpr int APP_SEQUENCE_AT = 2;
constexpr int APP_LENGTH_AT = 3;
constexpr int APP_TAG_AT = 4;

// The tag of the tool's command frames, and of the device's status and
// version replies. The command code follows either tag.
constexpr uint8_t APP_COMMAND_TAG[] = {0x2D, 0x03, 0x4E, 0x53};
constexpr uint8_t APP_REPLY_TAG[] = {0x2D, 0x04, 0x4E, 0x53};
constexpr int APP_TAG_SIZE = 4;
constexpr int APP_COMMAND_AT = APP_TAG_AT + APP_TAG_SIZE;

// A command frame: content of 11 bytes, length byte 5 (tag and command).
constexpr int APP_COMMAND_CONTENT_SIZE = 11;
constexpr uint8_t APP_COMMAND_LENGTH = 0x05;

// Acknowledgement, in both command sets: type and status (0x00 accepted).
constexpr uint8_t ACK_TYPE = 0x18;
constexpr int ACK_TYPE_AT = 4;
constexpr int ACK_STATUS_AT = 5;
constexpr int ACK_MIN_LENGTH = ACK_STATUS_AT + 1;

// Status reply to a mode query: reply tag, APP_QUERY_MODE, mode.
constexpr int STATUS_MODE_AT = APP_COMMAND_AT + 1;
constexpr int STATUS_MIN_LENGTH = STATUS_MODE_AT + 1;

constexpr int MODE_APPLICATION = 1;
constexpr int MODE_UPDATELOADER = 2;

// Application version reply: reply tag, APP_VERSION, five characters.
constexpr int APP_VERSION_TEXT_AT = APP_COMMAND_AT + 1;
constexpr int APP_VERSION_CHARS = 5;

// ---- Update-loader command set: length (2 bytes) command payload...

constexpr uint8_t LOADER_CLOSE = 0x01;
constexpr uint8_t LOADER_DATA = 0x03;
constexpr uint8_t LOADER_START_FLASH = 0x04;
constexpr uint8_t LOADER_RESET_FLASHDATA = 0x05;
constexpr uint8_t LOADER_DEVICE_STATE = 0x06;
constexpr uint8_t LOADER_DEVICE_RESET = 0x07;
constexpr uint8_t LOADER_SET_OFFSET = 0x08;
constexpr uint8_t LOADER_VERSION = 0x09;

// The length counts the command byte and the payload.
constexpr int LOADER_LENGTH_AT = 0;
constexpr int LOADER_COMMAND_AT = 2;
constexpr int LOADER_PAYLOAD_AT = 3;

// Loader version reply: text from here to the end of the content.
constexpr int LOADER_VERSION_TEXT_AT = LOADER_PAYLOAD_AT;
// Device state reply: 0x00 ready, anything else busy.
constexpr int STATE_AT = LOADER_PAYLOAD_AT;
constexpr int STATE_MIN_LENGTH = STATE_AT + 1;
constexpr uint8_t STATE_READY = 0x00;

// Writes value's low 16 bits to out[0,2), most significant byte first.
inline void PutBigEndian16(uint8_t* out, int value) {
  out[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
  out[1] = static_cast<uint8_t>(value & 0xFF);
}

// Reads the 16-bit value in[0,2), most significant byte first.
inline int GetBigEndian16(const uint8_t* in) { return (in[0] << 8) | in[1]; }

#endif  // TCPFLASH_PROTOCOL_WIRE_FORMAT_H_

// The update loader's command set: frames of start marker, 16-bit length,
// command byte, payload and end marker, without sequence number or CRC.
#ifndef TCPFLASH_PROTOCOL_LOADER_COMMANDS_H_
#define TCPFLASH_PROTOCOL_LOADER_COMMANDS_H_

#include <cstdint>
#include <cstdio>

#include "protocol/reply.h"
#include "protocol/wire_format.h"

class TcpEndpoint;

// Image bytes per data frame, and the largest data frame on the wire: every
// image byte stuffed, behind length bytes that never need it.
constexpr int IMAGE_BLOCK_SIZE = 750;
constexpr int DATA_FRAME_MAX = 2 * IMAGE_BLOCK_SIZE + 5;

// Pause before every device state poll.
constexpr int STATE_POLL_PAUSE_MS = 500;
// WaitUntilReady gives up after this long without any state reply, and
// after this long of busy answers: far beyond any flash part's programming.
constexpr int READY_SILENCE_LIMIT_MS = 30000;
constexpr int READY_BUSY_LIMIT_MS = 600000;

// The fixed frame of command (any command but LOADER_DATA): sets *len and
// returns the bytes, or returns null for a command without a fixed frame.
const uint8_t* FixedLoaderFrame(uint8_t command, int* len);

// Builds the stuffed data frame for block[0,n) into frame, which must hold
// DATA_FRAME_MAX bytes; 0 <= n <= IMAGE_BLOCK_SIZE. Returns its length.
int BuildDataFrame(const uint8_t* block, int n, uint8_t* frame);

// Reads and prints the loader's version and, when version is not null, keeps
// it there. Returns 0, or -1 (version then untouched) when the request could
// not be sent ("Socket Write Error\n") or no reply came.
int RequestLoaderVersion(TcpEndpoint& endpoint, VersionText* version = nullptr);

// Sends command's fixed frame; reads nothing. Returns 0 sent, -1 not sent
// (or no fixed frame for command).
int SendLoaderCommand(TcpEndpoint& endpoint, uint8_t command);

// Sends block[0,n) as one data frame, 0 <= n <= IMAGE_BLOCK_SIZE. Returns 0
// sent, -1 not sent.
int SendImageBlock(TcpEndpoint& endpoint, const uint8_t* block, int n);

// Follows a transfer while it goes out, on the transfer's own thread.
class TransferObserver {
 public:
  // sent (0 <= sent <= size) image bytes have gone out. Called after every
  // data frame, so it must be cheap.
  virtual void TransferAdvanced(long long sent) = 0;
  // The transfer is about to print a message on standard output.
  virtual void TransferWillPrint() = 0;
  // block[0,n) is about to go out as the next frame; last is set for the
  // frame that ends the image. Returning false holds it back: the image is
  // taken as changed. Called before every data frame, so it must be cheap
  // but for the last.
  virtual bool ApproveFrame(const uint8_t* block, int n, bool last) = 0;

 protected:
  ~TransferObserver() = default;
};

// Sends the size (>= 0) bytes of image from its current position in data frames of
// IMAGE_BLOCK_SIZE bytes, closed by an empty frame when size is a multiple of
// it. The stream must end exactly there: a file that was cut or grew since
// its size was taken is torn, and its last frame never goes out. observer,
// when not null, hears of every frame sent and of every message before it is
// printed, and approves every frame before it goes out. Returns 0 when all went out;
// TRANSFER_NOT_SENT as soon as a frame could not be sent; TRANSFER_UNREADABLE after "Image read
// error\n" (the file cannot be read); TRANSFER_CHANGED after "Image changed during the transfer\n".
constexpr int TRANSFER_NOT_SENT = -1;
constexpr int TRANSFER_UNREADABLE = -2;
constexpr int TRANSFER_CHANGED = -3;
int TransferImage(TcpEndpoint& endpoint, FILE* image, long long size,
                  TransferObserver* observer = nullptr);

// Judges the decoded state reply[0,n): 1 ready, 0 busy, -1 no state reply.
// Reads only reply[0,n).
int StateReplyReady(const uint8_t* reply, int n);

// Polls the device state every STATE_POLL_PAUSE_MS until it reports ready.
// Returns 0 once ready; READY_SILENT when no state reply came for
// silenceLimitMs; READY_NEVER when it was not ready busyLimitMs after the
// first poll.
constexpr int READY_SILENT = -1;
constexpr int READY_NEVER = -2;
int WaitUntilReady(TcpEndpoint& endpoint, int silenceLimitMs = READY_SILENCE_LIMIT_MS,
                   int busyLimitMs = READY_BUSY_LIMIT_MS);

// Sends the reset command and prints whether the device confirmed it.
// Returns 0 confirmed, -1 not sent (nothing printed), -2 not confirmed.
int ResetDevice(TcpEndpoint& endpoint);

#endif  // TCPFLASH_PROTOCOL_LOADER_COMMANDS_H_

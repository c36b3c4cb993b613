// Replies on their way out. The serve loop sends them only while the socket
// takes data without blocking, in the pieces and at the pace each reply asks
// for, so that the board never stops reading because the tool does not read
// its replies. Fixed storage; a reply that does not fit is refused whole.
#ifndef TCPFLASH_SIM_REPLY_QUEUE_H_
#define TCPFLASH_SIM_REPLY_QUEUE_H_

#include <chrono>
#include <cstdint>

enum class Pace {
  kWhole,     // as fast as the socket takes it
  kFragment,  // pieces of 1 to 3 bytes, FRAGMENT_PAUSE_MS apart
  kTrickle,   // one byte at a time, the reply's pause apart
};

constexpr int FRAGMENT_PAUSE_MS = 1;

class ReplyQueue {
 public:
  using Clock = std::chrono::steady_clock;

  // Bytes and replies held at most.
  static constexpr int kCapacity = 16384;
  static constexpr int kMaxReplies = 1024;
  // Largest piece handed out at once: small enough that a socket that
  // reports room for data takes it without blocking.
  static constexpr int kMaxPiece = 1024;
  // A reply that is due as soon as the socket takes it.
  static constexpr Clock::time_point kAtOnce = Clock::time_point::min();

  // Queues data[0,n) behind what is queued; its first byte is due at
  // notBefore (kAtOnce: as soon as the socket takes it). pauseMs is the pause
  // between the bytes of a kTrickle reply. A whole reply due at once (or no
  // later than the whole reply before it) joins that one, so that they go
  // out in one piece. Returns 0, or -1 with nothing queued when n <= 0 or the
  // reply does not fit.
  int Push(const uint8_t* data, int n, Pace pace, int pauseMs, Clock::time_point notBefore);

  // The piece due at now: sets *piece to its first byte and returns its
  // length (1 to kMaxPiece), to be sent whole and then taken with Pop.
  // Returns 0 when nothing is due, with *due set to the time the next piece
  // will be (Clock::time_point::max() when the queue is empty). Asking again
  // before Pop hands out the same piece.
  int Next(Clock::time_point now, const uint8_t** piece, Clock::time_point* due);

  // Takes the piece Next handed out, sent at now; the next piece of a paced
  // reply is then due a pause later.
  void Pop(Clock::time_point now);

  // Drops everything (the connection ended).
  void Clear();

  int size() const { return size_; }

 private:
  struct Reply {
    int left;  // bytes still to go
    Pace pace;
    int pauseMs;
    int piece;  // length of the piece handed out, 0 none yet
    Clock::time_point due;
  };

  uint8_t bytes_[kCapacity];
  int head_ = 0;  // first queued byte
  int size_ = 0;
  Reply replies_[kMaxReplies];
  int first_ = 0;  // first queued reply
  int count_ = 0;
  uint32_t pieceSeed_ = 12345;
};

#endif  // TCPFLASH_SIM_REPLY_QUEUE_H_

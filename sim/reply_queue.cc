#include "sim/reply_queue.h"

#include <cstring>

int ReplyQueue::Push(const uint8_t* data, int n, Pace pace, int pauseMs,
                     Clock::time_point notBefore) {
  if (n <= 0 || n > kCapacity - size_) return -1;
  Reply* last = count_ > 0 ? &replies_[(first_ + count_ - 1) % kMaxReplies] : nullptr;
  const bool joins = last != nullptr && pace == Pace::kWhole && last->pace == Pace::kWhole &&
                     (notBefore == kAtOnce || notBefore <= last->due);
  if (!joins && count_ == kMaxReplies) return -1;
  int tail = (head_ + size_) % kCapacity;
  const int firstPart = n < kCapacity - tail ? n : kCapacity - tail;
  std::memcpy(bytes_ + tail, data, static_cast<size_t>(firstPart));
  std::memcpy(bytes_, data + firstPart, static_cast<size_t>(n - firstPart));
  size_ += n;
  if (joins) {
    last->left += n;
    return 0;
  }
  replies_[(first_ + count_) % kMaxReplies] = {n, pace, pauseMs, 0, notBefore};
  ++count_;
  return 0;
}

int ReplyQueue::Next(Clock::time_point now, const uint8_t** piece, Clock::time_point* due) {
  if (count_ == 0) {
    *due = Clock::time_point::max();
    return 0;
  }
  Reply& reply = replies_[first_];
  if (now < reply.due) {
    *due = reply.due;
    return 0;
  }
  if (reply.piece == 0) {
    int length = reply.left;
    if (reply.pace == Pace::kTrickle) {
      length = 1;
    } else if (reply.pace == Pace::kFragment) {
      pieceSeed_ = pieceSeed_ * 1103515245u + 12345u;
      length = static_cast<int>(1 + (pieceSeed_ >> 16) % 3);
    }
    if (length > reply.left) length = reply.left;
    if (length > kMaxPiece) length = kMaxPiece;
    // A piece never wraps around the end of the storage.
    if (length > kCapacity - head_) length = kCapacity - head_;
    reply.piece = length;
  }
  *piece = bytes_ + head_;
  *due = now;
  return reply.piece;
}

void ReplyQueue::Pop(Clock::time_point now) {
  if (count_ == 0) return;
  Reply& reply = replies_[first_];
  const int n = reply.piece;
  reply.piece = 0;
  head_ = (head_ + n) % kCapacity;
  size_ -= n;
  reply.left -= n;
  if (reply.left == 0) {
    first_ = (first_ + 1) % kMaxReplies;
    --count_;
    return;
  }
  const int pause = reply.pace == Pace::kTrickle    ? reply.pauseMs
                    : reply.pace == Pace::kFragment ? FRAGMENT_PAUSE_MS
                                                    : 0;
  reply.due = now + std::chrono::milliseconds(pause);
}

void ReplyQueue::Clear() {
  head_ = 0;
  size_ = 0;
  first_ = 0;
  count_ = 0;
}

#include "sim/reply_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "tests/support/bytes.h"

namespace {

using Clock = ReplyQueue::Clock;
using std::chrono::milliseconds;

Bytes Numbered(int n, int from) {
  Bytes bytes(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(from + i);
  return bytes;
}

// Takes every piece due at now; returns their bytes and sets *pieces.
Bytes Drain(ReplyQueue& queue, Clock::time_point now, std::vector<int>* pieces = nullptr) {
  Bytes out;
  const uint8_t* piece = nullptr;
  Clock::time_point due;
  for (int n; (n = queue.Next(now, &piece, &due)) > 0;) {
    out.insert(out.end(), piece, piece + n);
    if (pieces != nullptr) pieces->push_back(n);
    queue.Pop(now);
  }
  return out;
}

TEST(ReplyQueueTest, WholeRepliesDueAtOnceGoOutTogetherInOrder) {
  ReplyQueue queue;
  const Clock::time_point now = Clock::now();
  const Bytes a = Numbered(7, 0);
  const Bytes b = Numbered(13, 100);
  ASSERT_EQ(queue.Push(a.data(), 7, Pace::kWhole, 0, ReplyQueue::kAtOnce), 0);
  ASSERT_EQ(queue.Push(b.data(), 13, Pace::kWhole, 0, ReplyQueue::kAtOnce), 0);
  std::vector<int> pieces;
  Bytes want = a;
  want.insert(want.end(), b.begin(), b.end());
  EXPECT_EQ(Drain(queue, now, &pieces), want);
  EXPECT_EQ(pieces, std::vector<int>{20});
  EXPECT_EQ(queue.size(), 0);
  const uint8_t* piece = nullptr;
  Clock::time_point due;
  EXPECT_EQ(queue.Next(now, &piece, &due), 0);
  EXPECT_EQ(due, Clock::time_point::max());
}

struct PaceCase {
  Pace pace;
  int pauseMs;
  int minPiece;
  int maxPiece;
  int gapMs;  // between pieces
};

TEST(ReplyQueueTest, PacedRepliesComeInPiecesAPauseApart) {
  const PaceCase cases[] = {{Pace::kTrickle, 250, 1, 1, 250},
                            {Pace::kFragment, 0, 1, 3, FRAGMENT_PAUSE_MS}};
  for (const PaceCase& c : cases) {
    ReplyQueue queue;
    const Bytes reply = Numbered(40, 7);
    Clock::time_point now = Clock::now();
    ASSERT_EQ(queue.Push(reply.data(), 40, c.pace, c.pauseMs, now + milliseconds(30)), 0);
    const uint8_t* piece = nullptr;
    Clock::time_point due;
    EXPECT_EQ(queue.Next(now, &piece, &due), 0) << "not before its time";
    EXPECT_EQ(due, now + milliseconds(30));
    now = due;
    Bytes got;
    while (queue.size() > 0) {
      const int n = queue.Next(now, &piece, &due);
      ASSERT_GE(n, c.minPiece);
      ASSERT_LE(n, c.maxPiece);
      // Asking again hands out the same piece.
      const uint8_t* again = nullptr;
      ASSERT_EQ(queue.Next(now, &again, &due), n);
      ASSERT_EQ(again, piece);
      got.insert(got.end(), piece, piece + n);
      queue.Pop(now);
      if (queue.size() == 0) break;
      ASSERT_EQ(queue.Next(now + milliseconds(c.gapMs) - milliseconds(1), &piece, &due), 0);
      ASSERT_EQ(due, now + milliseconds(c.gapMs));
      now = due;
    }
    EXPECT_EQ(got, reply);
  }
}

TEST(ReplyQueueTest, AReplyThatDoesNotFitIsRefusedWhole) {
  ReplyQueue queue;
  const Clock::time_point now = Clock::now();
  const Bytes big = Numbered(ReplyQueue::kCapacity - 10, 0);
  ASSERT_EQ(
      queue.Push(big.data(), static_cast<int>(big.size()), Pace::kWhole, 0, ReplyQueue::kAtOnce),
      0);
  const Bytes eleven = Numbered(11, 50);
  EXPECT_EQ(queue.Push(eleven.data(), 11, Pace::kWhole, 0, ReplyQueue::kAtOnce), -1);
  EXPECT_EQ(queue.Push(eleven.data(), 0, Pace::kWhole, 0, ReplyQueue::kAtOnce), -1);
  EXPECT_EQ(queue.Push(eleven.data(), 10, Pace::kWhole, 0, ReplyQueue::kAtOnce), 0);
  EXPECT_EQ(queue.size(), ReplyQueue::kCapacity);
  Bytes want = big;
  want.insert(want.end(), eleven.begin(), eleven.begin() + 10);
  std::vector<int> pieces;
  EXPECT_EQ(Drain(queue, now, &pieces), want);
  for (int n : pieces) EXPECT_LE(n, ReplyQueue::kMaxPiece);

  // Separate replies are limited in number too.
  for (int i = 0; i < ReplyQueue::kMaxReplies; ++i) {
    ASSERT_EQ(queue.Push(eleven.data(), 1, Pace::kTrickle, 1, ReplyQueue::kAtOnce), 0) << i;
  }
  EXPECT_EQ(queue.Push(eleven.data(), 1, Pace::kTrickle, 1, ReplyQueue::kAtOnce), -1);
  queue.Clear();
  EXPECT_EQ(queue.size(), 0);
  EXPECT_EQ(queue.Push(eleven.data(), 1, Pace::kTrickle, 1, ReplyQueue::kAtOnce), 0);
}

TEST(ReplyQueueTest, BytesSurviveTheWrapOfTheStorage) {
  // Replies of odd sizes pushed and taken in turns, so that they wrap
  // around the end of the storage at many different points.
  ReplyQueue queue;
  const Clock::time_point now = Clock::now();
  Bytes sent;
  Bytes got;
  int from = 0;
  for (int round = 0; round < 400; ++round) {
    const int n = 1 + (round * 97) % 1500;
    const Bytes reply = Numbered(n, from);
    from += n;
    if (queue.Push(reply.data(), n, Pace::kWhole, 0, ReplyQueue::kAtOnce) == 0) {
      sent.insert(sent.end(), reply.begin(), reply.end());
    }
    if (round % 3 == 2) {
      const Bytes out = Drain(queue, now);
      got.insert(got.end(), out.begin(), out.end());
    }
  }
  const Bytes out = Drain(queue, now);
  got.insert(got.end(), out.begin(), out.end());
  EXPECT_EQ(got, sent);
  EXPECT_GT(sent.size(), 3u * ReplyQueue::kCapacity);
}

}  // namespace

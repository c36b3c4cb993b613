// A device stand-in for the throughput benchmark that only counts the image
// data: it answers the loader-mode dialogue (mode query as loader mode 2,
// version, state poll "ready", reset), takes the data phase in 1 MiB reads
// without decoding it, and times the stream from its first to its last data
// byte. Whether the image arrived intact is checked elsewhere, against the
// simulator, in an untimed run.
//
// It serves one connection on 127.0.0.1 (port chosen by the system, printed
// as "port N"), single-threaded, and ends by itself: when the close command
// came, when the peer hung up, or at its deadline. It then prints
//   data: W wire bytes, S s from first to last data byte
// and exits 0 when a whole dialogue up to the close command was seen.
//
// Near the end of the data the socket acknowledges every read at once
// (TCP_QUICKACK): with the system's delayed ACK the sender's last partial
// segment is held back (Nagle) until the ACK timer fires, about 40 ms later,
// and that wait, not the sender, would date the last data byte. The bulk of
// the stream keeps the system's ACK policy, so the sender works as it would
// against any receiver. --expect names the data phase's wire bytes so that
// the sink knows where the end is; without it no ACK is hurried.
//
// usage: tcpflash_count_sink [--timeout SECONDS] [--expect WIRE_BYTES]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/frame_codec.h"
#include "protocol/app_commands.h"
#include "protocol/device_peer.h"
#include "protocol/loader_commands.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadSize = 1 << 20;
constexpr int kFrameMax = 256;
// The set-offset frame ends the data phase; none of its bytes can stand
// inside a data frame (0xFE only ever starts a frame), so its first
// occurrence after the data is the end of the data.
constexpr uint8_t kSetOffsetFrame[] = {0xFE, 0x00, 0x05, LOADER_SET_OFFSET, 0x00, 0x10,
                                       0x00, 0x00, 0xFF};
constexpr int kSetOffsetLen = static_cast<int>(sizeof kSetOffsetFrame);
// The sender pauses after set-offset and start-flash (it waits for the state
// poll), so the end of the data lies within this many bytes of the stream's
// end when a read returns.
constexpr int kTailSize = 64;
// Within this many bytes of the expected end every read is acknowledged at
// once.
constexpr long long kPromptAckTail = 256 * 1024;
// Arrival times of the last reads, to date the last data byte when the
// set-offset frame came in pieces.
constexpr int kArrivals = 16;

uint8_t readBuffer[kReadSize];

struct Arrival {
  long long end;  // stream offset (within the data phase) after this read
  Clock::time_point at;
};

struct Sink {
  int fd = -1;
  long long expect = 0;  // data-phase wire bytes the sender will send, 0 unknown
  Clock::time_point deadline;
  // Command phase: one frame being collected.
  uint8_t frame[kFrameMax];
  int frameLen = 0;
  bool inFrame = false;
  // Data phase.
  bool inData = false;
  bool dataDone = false;
  long long dataBytes = 0;  // data-phase bytes so far (the set-offset frame included)
  long long wireBytes = 0;  // data frames' bytes once the end was found
  uint8_t tail[kTailSize];
  int tailLen = 0;
  Arrival arrivals[kArrivals];
  int arrivalCount = 0;
  Clock::time_point first;
  Clock::time_point last;
  bool closeSeen = false;
};

// Sends any pending ACK now and leaves delayed-ACK mode for a while.
void AskQuickAck(const Sink& sink) {
  int on = 1;
  setsockopt(sink.fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

// Sends reply[0,len) whole. Returns 0, or -1 when the send failed.
int SendAll(const Sink& sink, const uint8_t* reply, int len) {
  int at = 0;
  while (at < len) {
    const ssize_t put = send(sink.fd, reply + at, static_cast<size_t>(len - at), MSG_NOSIGNAL);
    if (put <= 0) return -1;
    at += static_cast<int>(put);
  }
  return 0;
}

// Answers one raw frame raw[0,len) of the command phase; raw is decoded in
// place. Returns 1 when it was the reset-flashdata command (the data phase
// follows), 0 otherwise.
int AnswerFrame(Sink* sink, uint8_t* raw, int len) {
  const int n = UnescapeFrame(raw, len);
  if (n <= 0) return 0;
  const DeviceRequest request = ParseRequest(raw, n);
  uint8_t reply[2 * DEVICE_REPLY_MAX];
  int replyLen = 0;
  if (request.kind == RequestKind::kApp && request.command == APP_QUERY_MODE) {
    replyLen = BuildAckReply(request.sequence, 0x00, reply);
    replyLen += BuildStatusReply(request.sequence, MODE_UPDATELOADER, reply + replyLen);
  } else if (request.kind == RequestKind::kLoader) {
    switch (request.command) {
      case LOADER_VERSION:
        replyLen = BuildLoaderVersionReply("count sink", reply);
        break;
      case LOADER_DEVICE_STATE:
        replyLen = BuildStateReply(0x00, reply);
        break;
      case LOADER_DEVICE_RESET:
        replyLen = BuildResetReply(0x00, reply);
        break;
      case LOADER_CLOSE:
        sink->closeSeen = true;
        break;
      case LOADER_RESET_FLASHDATA:
        return 1;
      default:
        break;
    }
  }
  if (replyLen > 0) SendAll(*sink, reply, replyLen);
  return 0;
}

void TakeData(Sink* sink, const uint8_t* bytes, int n, Clock::time_point now);

// Feeds bytes[0,n) of the command phase through the frame collector and
// answers each whole frame; hands what follows a reset-flashdata command to
// the data phase.
void TakeCommands(Sink* sink, const uint8_t* bytes, int n, Clock::time_point now) {
  for (int i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    if (b == FRAME_START) {
      sink->inFrame = true;
      sink->frameLen = 0;
    }
    if (!sink->inFrame) continue;
    if (sink->frameLen == kFrameMax) {
      sink->inFrame = false;  // no command frame is this long: drop it
      continue;
    }
    sink->frame[sink->frameLen++] = b;
    if (b != FRAME_END) continue;
    sink->inFrame = false;
    if (AnswerFrame(sink, sink->frame, sink->frameLen) == 1 && !sink->dataDone) {
      sink->inData = true;
      TakeData(sink, bytes + i + 1, n - i - 1, now);
      return;
    }
  }
}

// Time at which the data-phase byte at offset arrived.
Clock::time_point ArrivalOf(const Sink& sink, long long offset) {
  const int kept = sink.arrivalCount < kArrivals ? sink.arrivalCount : kArrivals;
  Clock::time_point at = sink.arrivals[(sink.arrivalCount - kept) % kArrivals].at;
  for (int k = kept; k >= 1; --k) {
    const Arrival& a = sink.arrivals[(sink.arrivalCount - k) % kArrivals];
    if (a.end > offset) return a.at;
    at = a.at;
  }
  return at;
}

// Counts bytes[0,n) of the data phase and looks for its end in the stream's
// last kTailSize bytes; what follows the end goes back to the command phase.
void TakeData(Sink* sink, const uint8_t* bytes, int n, Clock::time_point now) {
  if (n <= 0) return;
  if (sink->dataBytes == 0) sink->first = now;
  sink->dataBytes += n;
  sink->arrivals[sink->arrivalCount % kArrivals] = Arrival{sink->dataBytes, now};
  ++sink->arrivalCount;
  // Keep the last kTailSize bytes of the stream.
  if (n >= kTailSize) {
    std::memcpy(sink->tail, bytes + n - kTailSize, kTailSize);
    sink->tailLen = kTailSize;
  } else {
    const int drop = sink->tailLen + n > kTailSize ? sink->tailLen + n - kTailSize : 0;
    std::memmove(sink->tail, sink->tail + drop, static_cast<size_t>(sink->tailLen - drop));
    std::memcpy(sink->tail + sink->tailLen - drop, bytes, static_cast<size_t>(n));
    sink->tailLen += n - drop;
  }
  for (int p = 0; p + kSetOffsetLen <= sink->tailLen; ++p) {
    if (std::memcmp(sink->tail + p, kSetOffsetFrame, kSetOffsetLen) != 0) continue;
    const long long endOffset = sink->dataBytes - sink->tailLen + p;
    sink->wireBytes = endOffset;
    sink->last = ArrivalOf(*sink, endOffset - 1);
    sink->inData = false;
    sink->dataDone = true;
    const int after = sink->tailLen - p - kSetOffsetLen;  // all within bytes[0,n)
    TakeCommands(sink, bytes + n - after, after, now);
    return;
  }
}

// Serves one connection until the close command, a hang-up or the deadline.
// Returns 0 after a whole dialogue, 1 otherwise.
int Serve(Sink* sink) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(sink->deadline - Clock::now());
    if (left.count() <= 0) {
      std::fprintf(stderr, "count sink: deadline reached\n");
      return 1;
    }
    pollfd p{sink->fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t got = recv(sink->fd, readBuffer, sizeof readBuffer, 0);
    const Clock::time_point now = Clock::now();
    if (got <= 0) break;
    if (sink->inData && sink->expect > 0 &&
        sink->dataBytes + got >= sink->expect - kPromptAckTail) {
      AskQuickAck(*sink);
    }
    if (sink->inData) {
      TakeData(sink, readBuffer, static_cast<int>(got), now);
    } else {
      TakeCommands(sink, readBuffer, static_cast<int>(got), now);
    }
    if (sink->closeSeen) break;
  }
  return sink->closeSeen && sink->dataDone ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  static Sink sink;
  int timeoutSeconds = 60;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
      timeoutSeconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--expect") == 0 && i + 1 < argc) {
      sink.expect = std::atoll(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: tcpflash_count_sink [--timeout SECONDS] [--expect WIRE_BYTES]\n");
      return 2;
    }
  }
  sink.deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t addrLen = sizeof addr;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &addrLen) != 0) {
    std::fprintf(stderr, "count sink: cannot listen on 127.0.0.1\n");
    return 1;
  }
  std::printf("port %d\n", ntohs(addr.sin_port));
  std::fflush(stdout);

  // Wait for the one connection within the deadline.
  pollfd p{listener, POLLIN, 0};
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(sink.deadline - Clock::now());
  if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
    std::fprintf(stderr, "count sink: nobody connected\n");
    return 1;
  }
  sink.fd = accept(listener, nullptr, nullptr);
  close(listener);
  if (sink.fd < 0) return 1;
  const int result = Serve(&sink);
  close(sink.fd);
  const double seconds = std::chrono::duration<double>(sink.last - sink.first).count();
  std::printf("data: %lld wire bytes, %.6f s from first to last data byte\n", sink.wireBytes,
              sink.dataDone ? seconds : 0.0);
  return result;
}

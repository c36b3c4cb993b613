#include "sim/device_sim.h"

#include "sim/sim_log.h"

namespace {

using Clock = std::chrono::steady_clock;

// Longest single wait of the serve loop, so that Stop and the deadline are
// seen promptly.
constexpr int kReceiveWaitMs = 20;
constexpr int kAcceptPauseMs = 5;
// Babbling: this many bytes every kBabblePauseMs, a start marker at the head
// of every kBabbleStartEvery-th chunk and never an end marker. Slow enough
// for dozens of babbling boards side by side on one machine.
constexpr int kBabbleChunk = 64;
constexpr int kBabblePauseMs = 10;
constexpr unsigned kBabbleStartEvery = 8;
// A board's send buffer is small: with --ack-everything the replies the
// tool does not read soon fill it.
constexpr int kBoardSendBuffer = 4096;
// --link-kbps reads in slices worth this long.
constexpr int kReadSliceMs = 10;
// Noise before a fragmented reply; a receiver hunting for the start marker
// must drop all of it, the end marker included.
constexpr uint8_t kStrayBytes[] = {0x00, 0x55, FRAME_END};

constexpr int kReadable = 1;
constexpr int kWritable = 2;

// Waits at most waitMs for s to become readable (when read) or writable
// (when write). Returns kReadable and/or kWritable, 0 when neither came in
// time, -1 when select failed. With neither asked for it only sleeps (select
// without a socket fails on Windows).
int WaitSocket(SOCKET s, bool read, bool write, int waitMs) {
  if (!read && !write) {
    Sleep(static_cast<unsigned long>(waitMs));
    return 0;
  }
  fd_set readable;
  fd_set writable;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  if (read) FD_SET(s, &readable);
  if (write) FD_SET(s, &writable);
  timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
  const int ready = select(static_cast<int>(s + 1), read ? &readable : nullptr,
                           write ? &writable : nullptr, nullptr, &wait);
  if (ready < 0) return -1;
  int events = 0;
  if (read && FD_ISSET(s, &readable)) events |= kReadable;
  if (write && FD_ISSET(s, &writable)) events |= kWritable;
  return events;
}

// A socket bound to port on every local address that does not listen: while
// it lives no one else takes the port, and connection requests to it are
// refused (answered with a reset). INVALID_SOCKET when the port cannot be
// bound (yet).
SOCKET HoldPort(int port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(static_cast<unsigned short>(port));
  if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// Whole milliseconds from now until t, rounded up, within [0,
// kReceiveWaitMs].
int MsUntil(Clock::time_point now, Clock::time_point t) {
  if (t <= now) return 0;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - now).count();
  return us >= kReceiveWaitMs * 1000L ? kReceiveWaitMs : static_cast<int>((us + 999) / 1000);
}

}  // namespace

DeviceSim::DeviceSim(const SimOptions& options)
    : options_(options),
      requestContent_(),
      decoder_(requestContent_, REQUEST_CONTENT_MAX),
      image_(options_.imageOut, options_.quiet, options_.log),
      answers_(options_, image_),
      faults_(options_),
      block_() {}

DeviceSim::~DeviceSim() {
  endpoint_.Close();
  for (TcpEndpoint& filler : fillers_) filler.Close();
}

int DeviceSim::Start() {
  deadline_ = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
  if (image_.Restart() != 0) return SIM_EXIT_USAGE;
  if (endpoint_.startupError != 0 || endpoint_.SetTarget("", "", options_.port) != 0 ||
      endpoint_.Listen() != 0) {
    SimLog(options_.log, "cannot listen on port %d", options_.port);
    endpoint_.Close();
    return SIM_EXIT_USAGE;
  }
  SimLog(options_.log, "listening on port %d, mode %d", Port(), options_.mode);
  if (options_.linkKbps > 0) SimLog(options_.log, "taking data at %d kB/s", options_.linkKbps);
  if (options_.busyForever) SimLog(options_.log, "busy for good: the flash never finishes");
  if (options_.blackhole && DropConnectionRequests() != 0) {
    endpoint_.Close();
    return SIM_EXIT_USAGE;
  }
  return 0;
}

bool DeviceSim::Expired() const { return stopRequested_ || Clock::now() >= deadline_; }

int DeviceSim::DropConnectionRequests() {
  // A request that came in before the port went dark is turned away, so that
  // the queue holds the fillers alone.
  while (endpoint_.Accept() == 0) endpoint_.AbortData();
  for (TcpEndpoint& filler : fillers_) {
    if (filler.SetTarget("", "127.0.0.1", Port()) != 0 || filler.Connect() != 0) {
      SimLog(options_.log, "cannot fill the connection queue of port %d", Port());
      return -1;
    }
  }
  dropping_ = true;
  SimLog(options_.log, "blackhole: port %d drops connection requests from here on", Port());
  return 0;
}

int DeviceSim::Run() {
  for (;;) {
    if (Expired()) {
      SimLog(options_.log, "deadline reached");
      endpoint_.Close();
      for (TcpEndpoint& filler : fillers_) filler.Close();
      return SIM_EXIT_DEADLINE;
    }
    // The held connections stay in the queue: nothing is taken from it.
    if (dropping_) {
      Sleep(kReceiveWaitMs);
      continue;
    }
    if (endpoint_.Accept() != 0) {
      Sleep(kAcceptPauseMs);
      continue;
    }
    SimLog(options_.log, "connect %s", endpoint_.peerAddress);
    if (options_.ackEverything) {
      const int size = kBoardSendBuffer;
      setsockopt(endpoint_.dataSocket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size),
                 sizeof size);
    }
    const Conn ended = Serve();
    EndConnection();
    if (ended == Conn::kExpired) continue;
    SimLog(options_.log, "disconnect");
    if (options_.once && options_.untilBoot && restarted_) {
      endpoint_.Close();
      SimLog(options_.log,
             "update complete: %lld image bytes, the restarted board served a session",
             image_.bytes());
      return SIM_EXIT_UPDATED;
    }
    if (answers_.TakeSwitch()) {
      if (options_.noLoader) {
        SimLog(options_.log, "loader withheld: no longer listening");
        endpoint_.Close();
        return SIM_EXIT_NO_UPDATE;
      }
      if (options_.blackholeAfterSwitch) {
        if (DropConnectionRequests() != 0) {
          endpoint_.Close();
          return SIM_EXIT_NO_UPDATE;
        }
        continue;
      }
      SimLog(options_.log, "switch to loader, reporting mode %d", answers_.StartLoader());
      continue;
    }
    // The board restarts behind the close command; plain --once ends the run
    // first (below), right after that session, as its users expect.
    const bool endsAtClose = options_.once && !options_.untilBoot;
    if (answers_.TakeClose() && !endsAtClose) {
      const int rebooted = Reboot();
      if (rebooted != 0) {
        endpoint_.Close();
        return rebooted;
      }
      continue;
    }
    if (options_.once) {
      endpoint_.Close();
      if (!answers_.closeSeen()) {
        SimLog(options_.log, "session ended without close");
        return SIM_EXIT_NO_UPDATE;
      }
      SimLog(options_.log, "update complete: %lld image bytes", image_.bytes());
      return SIM_EXIT_UPDATED;
    }
  }
}

int DeviceSim::Reboot() {
  if (options_.noBoot) {
    SimLog(options_.log, "restarting: the board never comes back");
    return DropConnectionRequests() == 0 ? 0 : SIM_EXIT_USAGE;
  }
  const int port = Port();
  SimLog(options_.log, "restarting, refusing connections for %d ms", options_.rebootMs);
  // Closing the listener also turns away what waits in its queue. The port
  // stays ours, so that the board comes back where the tool looks for it.
  endpoint_.Close();
  refusing_ = true;
  SOCKET held = HoldPort(port);
  const Clock::time_point up = Clock::now() + std::chrono::milliseconds(options_.rebootMs);
  bool listening = false;
  bool toldTaken = false;
  while (!Expired()) {
    const Clock::time_point now = Clock::now();
    if (now < up) {
      // The connection that just ended may hold the port for a moment.
      if (held == INVALID_SOCKET) held = HoldPort(port);
      Sleep(static_cast<unsigned long>(MsUntil(now, up)));
      continue;
    }
    if (ListenAgain(port, &held) == 0) {
      listening = true;
      break;
    }
    if (!toldTaken) {
      SimLog(options_.log, "port %d is taken: waiting to listen again", port);
      toldTaken = true;
    }
    Sleep(kReceiveWaitMs);
  }
  if (held != INVALID_SOCKET) closesocket(held);
  refusing_ = false;
  // Expired: the serve loop ends the run.
  if (!listening) return 0;
  restarted_ = true;
  const int mode = answers_.Restart(options_.bootIntoLoader);
  if (options_.bootIntoLoader) {
    SimLog(options_.log, "update loader running again, reporting mode %d", mode);
  } else {
    SimLog(options_.log, "application running again, version %.*s", APP_VERSION_CHARS,
           answers_.appVersion());
  }
  return 0;
}

int DeviceSim::ListenAgain(int port, SOCKET* held) {
  if (*held != INVALID_SOCKET) {
    const SOCKET s = *held;
    *held = INVALID_SOCKET;
    if (listen(s, 1) == SOCKET_ERROR) {
      closesocket(s);
      return -1;
    }
    // The endpoint serves and closes it from here on, as its own.
    endpoint_.listenSocket = s;
    return 0;
  }
  if (endpoint_.SetTarget("", "", port) != 0 || endpoint_.Listen() != 0) {
    endpoint_.Close();
    return -1;
  }
  return 0;
}

void DeviceSim::EndConnection() {
  endpoint_.CloseData();
  image_.EndPhase();
  queue_.Clear();
  pendingLength_ = 0;
  if (droppingReplies_) {
    SimLog(options_.log, "%lld replies dropped so far", repliesDropped_.load());
    droppingReplies_ = false;
  }
}

DeviceSim::Conn DeviceSim::Serve() {
  connectionEnded_ = false;
  sendFailed_ = false;
  decoder_.Reset();
  readAllowance_ = 0;
  allowanceAt_ = Clock::now();
  while (!connectionEnded_) {
    if (Expired()) return Conn::kExpired;
    const Clock::time_point now = Clock::now();
    Clock::time_point wake = now + std::chrono::milliseconds(kReceiveWaitMs);
    if (Stalled(now, &wake)) {
      Sleep(static_cast<unsigned long>(MsUntil(now, wake)));
      continue;
    }
    // Frames that arrived behind the command that began a stall come first.
    if (pendingLength_ > 0) {
      Decode(pendingAt_, pendingLength_);
      continue;
    }
    if (faults_.babbling()) Babble(now, &wake);
    const uint8_t* piece = nullptr;
    Clock::time_point due = Clock::time_point::max();
    const int pieceLength = sendFailed_ ? 0 : queue_.Next(now, &piece, &due);
    if (pieceLength == 0 && due < wake) wake = due;
    const int budget = ReadBudget(now, &wake);
    // Replies go out only while the socket takes them without blocking: a
    // tool that does not read must not stop the board from reading.
    const int ready =
        WaitSocket(endpoint_.dataSocket, budget > 0, pieceLength > 0, MsUntil(now, wake));
    if (ready < 0) break;
    // Reading first: what the tool sent before it went away still counts.
    if ((ready & kReadable) != 0) {
      const int got = endpoint_.ReceiveBlock(block_, budget, 0);
      if (got < 0) break;
      readAllowance_ -= got;
      Decode(0, got);
      // A stall that began here holds back the replies too.
      if (connectionEnded_ || stalled_ || stallForGood_) continue;
    }
    if ((ready & kWritable) != 0) {
      // A tool that is gone takes no replies; reading goes on until the
      // connection's end shows there.
      if (endpoint_.Send(piece, pieceLength) != 0) {
        queue_.Clear();
        sendFailed_ = true;
      } else {
        queue_.Pop(Clock::now());
      }
    }
  }
  return Conn::kEnded;
}

void DeviceSim::Decode(int at, int n) {
  pendingLength_ = 0;
  int used = n;
  decoder_.Feed(block_ + at, n, *this, &used);
  if (used < n && !connectionEnded_) {
    pendingAt_ = at + used;
    pendingLength_ = n - used;
  }
}

bool DeviceSim::Stalled(Clock::time_point now, Clock::time_point* wake) {
  if (stallForGood_) return true;
  if (!stalled_) return false;
  if (now < stallUntil_) {
    if (stallUntil_ < *wake) *wake = stallUntil_;
    return true;
  }
  stalled_ = false;
  allowanceAt_ = now;
  SimLog(options_.log, "stall over: reading again");
  return false;
}

void DeviceSim::Babble(Clock::time_point now, Clock::time_point* wake) {
  if (now >= nextBabble_) {
    // A new chunk only once the last one has gone: a tool that does not read
    // is not flooded.
    if (queue_.size() == 0) {
      uint8_t chunk[kBabbleChunk];
      for (int i = 0; i < kBabbleChunk; ++i) {
        // 0x00 to 0xFC: never a marker or an escape byte.
        chunk[i] = static_cast<uint8_t>((babbleChunks_ * kBabbleChunk + i) % FRAME_ESCAPE);
      }
      if (babbleChunks_ % kBabbleStartEvery == 0) chunk[0] = FRAME_START;
      ++babbleChunks_;
      queue_.Push(chunk, kBabbleChunk, Pace::kWhole, 0, ReplyQueue::kAtOnce);
    }
    nextBabble_ = now + std::chrono::milliseconds(kBabblePauseMs);
  }
  if (nextBabble_ < *wake) *wake = nextBabble_;
}

int DeviceSim::ReadBudget(Clock::time_point now, Clock::time_point* wake) {
  if (options_.linkKbps <= 0) return static_cast<int>(sizeof block_);
  // N kB/s is N bytes per millisecond.
  const double perMs = options_.linkKbps;
  double slice = perMs * kReadSliceMs;
  if (slice > static_cast<double>(sizeof block_)) slice = static_cast<double>(sizeof block_);
  readAllowance_ += perMs * std::chrono::duration<double, std::milli>(now - allowanceAt_).count();
  allowanceAt_ = now;
  if (readAllowance_ > slice) readAllowance_ = slice;
  if (readAllowance_ >= slice) return static_cast<int>(slice);
  const auto refill = std::chrono::microseconds(
      static_cast<long long>((slice - readAllowance_) / perMs * 1000.0) + 1);
  if (now + refill < *wake) *wake = now + refill;
  return 0;
}

bool DeviceSim::OnFrame(const uint8_t* content, int n) {
  const DeviceRequest request = ParseRequest(content, n);
  const Step step = answers_.Classify(request);
  const FaultAction action = faults_.Take(step);
  const int k = action.occurrence;
  if (step == Step::kData) {
    image_.NoteDataFrame(k, request.payloadLength);
  } else {
    image_.EndPhase();
    if (request.kind == RequestKind::kApp) {
      SimLog(options_.log, "%s:%d seq %d%s", StepName(step), k, request.sequence,
             request.checkOk ? "" : " crc-bad");
    } else if (request.kind == RequestKind::kLoader) {
      SimLog(options_.log, "%s:%d len %d", StepName(step), k, request.payloadLength + 1);
    } else {
      SimLog(options_.log, "unknown:%d content %d bytes", k, n);
    }
  }
  if (action.hangUp || action.reset) {
    SimLog(options_.log, action.hangUp ? "hang up" : "reset: connection dropped with RST");
    if (action.hangUp) {
      endpoint_.CloseData();
    } else {
      endpoint_.AbortData();
    }
    connectionEnded_ = true;
    return false;
  }
  if (action.silenceNow) SimLog(options_.log, "silent from here on");
  if (action.babbleNow) {
    SimLog(options_.log, "babbling from here on");
    nextBabble_ = Clock::now();
  }
  if (action.refuse) SimLog(options_.log, "refusing");
  if (action.trickle) {
    SimLog(options_.log, "trickling the answer, one byte every %d ms", options_.trickleMs);
  }
  const Clock::time_point now = Clock::now();
  const bool answers = faults_.answers();
  replyNotBefore_ = answers && options_.delayMs > 0 && step != Step::kData && step != Step::kUnknown
                        ? now + std::chrono::milliseconds(options_.delayMs)
                        : ReplyQueue::kAtOnce;
  trickleThis_ = action.trickle;
  answers_.Answer(step, request, action.refuse, answers, *this);
  trickleThis_ = false;
  if (action.stallMs == 0) return true;
  // The answer waits in the queue until the stall is over.
  if (action.stallMs == STALL_FOR_GOOD) {
    stallForGood_ = true;
    SimLog(options_.log, "stalling for good: no more reading or answering");
  } else {
    stalled_ = true;
    stallUntil_ = now + std::chrono::milliseconds(action.stallMs);
    SimLog(options_.log,
           action.erase ? "erasing the flash: not reading for %d ms"
                        : "stalling: no reading or answering for %d ms",
           action.stallMs);
  }
  return false;
}

void DeviceSim::OnReject(FrameReject reason) {
  const char* why = reason == FrameReject::kBadEscape ? "bad escape"
                    : reason == FrameReject::kTooLong ? "too long"
                                                      : "cut short";
  SimLog(options_.log, "rejected frame: %s", why);
}

void DeviceSim::Reply(const uint8_t* frame, int len) {
  if (connectionEnded_ || len <= 0) return;
  const Pace pace = trickleThis_        ? Pace::kTrickle
                    : options_.fragment ? Pace::kFragment
                                        : Pace::kWhole;
  bool queued = true;
  if (pace == Pace::kFragment) {
    // One to three stray bytes, a different count each time.
    strays_ = strays_ % static_cast<int>(sizeof kStrayBytes) + 1;
    queued = queue_.Push(kStrayBytes, strays_, pace, 0, replyNotBefore_) == 0;
  }
  queued = queued && queue_.Push(frame, len, pace, options_.trickleMs, replyNotBefore_) == 0;
  if (queued) return;
  ++repliesDropped_;
  if (!droppingReplies_) {
    droppingReplies_ = true;
    SimLog(options_.log, "send queue full: dropping the replies the tool does not read");
  }
}

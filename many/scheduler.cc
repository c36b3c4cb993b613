#include "many/scheduler.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "many/process.h"
#include "many/report.h"

// A board's process runs in the slot of the board's index.
static_assert(MAX_CHILDREN >= MAX_BOARDS, "a slot for every board");

namespace {

// Longest wait for output before the clock, the time limits and the stop
// requests are looked at again.
constexpr int kTickMs = 100;
constexpr int kLogPathSize = CHILD_PATH_SIZE + LOG_NAME_SIZE + 2;
// The longest command line of a board's tcpflash, its terminating null included.
constexpr int kMaxArgs = 20;

class Runner : public ChildEvents {
 public:
  Runner(const RunSettings& settings, BoardState* boards, int count, LiveView* view)
      : settings_(settings), boards_(boards), count_(count), view_(view) {}

  bool Run();
  void OnOutput(int slot, ChildStream stream, const char* data, int size) override;
  void OnEnd(int slot, const ChildEnd& end) override;

 private:
  double Now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
  }
  // Writes "<logDir>/<log name with suffix>" to path[0,kLogPathSize).
  void LogPath(int index, const char* suffix, char* path) const;
  // Fills argv[0,kMaxArgs) with the command line of board's tcpflash, null
  // at its end; numbers[0,3) hold the texts of its numbers.
  void ToolArguments(const Board& board, char (*numbers)[16], const char** argv) const;
  void Start(int index);
  void Stop(int index, Ending why);
  void Finish(int index, const char* detail);
  // Appends data[0,size) to the board's record of kind (a BoardRecord) and
  // flushes it; the record is made on first use and *made tells that it
  // was. A record that cannot be made or written goes to RecordFailed.
  void AppendRecord(int index, int kind, bool* made, const char* data, int size);
  // Reports a record that failed (what: "creating", "writing", "closing",
  // error an errno value) on stderr, marks the board's records incomplete
  // and closes the record: bytes behind a gap would mislead.
  void RecordFailed(int index, int kind, const char* what, int error);

  // Hands one board's event lines and other error text to its logs and state.
  class BoardSink final : public EventSink {
   public:
    BoardSink(Runner* runner, int index) : runner_(runner), index_(index) {}
    void OnEvent(const char* line, int length, const EventLine& event) override {
      BoardState& b = runner_->boards_[index_];
      runner_->AppendRecord(index_, RECORD_EVENTS, &b.eventsLogged, line, length);
      TakeEvent(&b, event);
    }
    void OnOtherText(const char* data, int length) override {
      BoardState& b = runner_->boards_[index_];
      runner_->AppendRecord(index_, RECORD_STDERR_LOG, &b.stderrLogged, data, length);
    }

   private:
    Runner* runner_;
    int index_;
  };

  const RunSettings& settings_;
  BoardState* boards_;
  int count_;
  LiveView* view_;
  std::chrono::steady_clock::time_point begin_ = std::chrono::steady_clock::now();
  // Each board's open record files, by BoardRecord; null when not open.
  FILE* records_[MAX_BOARDS][BOARD_RECORD_KINDS] = {};
  // A record is made once, with its first bytes (the log at the start).
  bool tried_[MAX_BOARDS][BOARD_RECORD_KINDS] = {};
  // Why a board's process was killed: kTimedOut or kStopped; kNone if not.
  Ending killed_[MAX_BOARDS] = {};
  int running_ = 0;
};

void Runner::LogPath(int index, const char* suffix, char* path) const {
  char name[LOG_NAME_SIZE];
  BoardLogName(boards_[index].board, suffix, name);
  std::snprintf(path, kLogPathSize, "%s/%s", settings_.logDir, name);
}

void Runner::ToolArguments(const Board& board, char (*numbers)[16], const char** argv) const {
  int n = 0;
  argv[n++] = settings_.toolPath;
  if (settings_.info) {
    argv[n++] = "--info";
  } else {
    argv[n++] = "--image";
    argv[n++] = settings_.imagePath;
    // The bytes hashed for the report, or a failed board.
    argv[n++] = "--expect-sha256";
    argv[n++] = settings_.imageSha256;
    if (settings_.proof.verify) argv[n++] = "--verify";
    if (settings_.proof.expectVersion != nullptr) {
      argv[n++] = "--expect-version";
      argv[n++] = settings_.proof.expectVersion;
    }
    if (settings_.proof.skipCurrent) argv[n++] = "--skip-current";
    if (settings_.proof.bootTimeoutS > 0) {
      std::snprintf(numbers[1], sizeof numbers[1], "%d", settings_.proof.bootTimeoutS);
      argv[n++] = "--boot-timeout";
      argv[n++] = numbers[1];
    }
    if (settings_.proof.readyTimeoutS > 0) {
      std::snprintf(numbers[2], sizeof numbers[2], "%d", settings_.proof.readyTimeoutS);
      argv[n++] = "--ready-timeout";
      argv[n++] = numbers[2];
    }
  }
  // Events on its standard error: the progress display is off then.
  argv[n++] = "--events";
  argv[n++] = "-";
  std::snprintf(numbers[0], sizeof numbers[0], "%d", board.port);
  argv[n++] = board.address;
  argv[n++] = numbers[0];
  argv[n] = nullptr;
}

void Runner::Start(int index) {
  BoardState& b = boards_[index];
  b.startS = Now();
  char path[kLogPathSize];
  LogPath(index, BOARD_RECORD_SUFFIXES[RECORD_LOG], path);
  records_[index][RECORD_LOG] = CreateLogFile(path);
  tried_[index][RECORD_LOG] = true;
  char error[CHILD_ERROR_SIZE];
  if (records_[index][RECORD_LOG] == nullptr) {
    b.ending = Ending::kStartFailed;
    Finish(index, "its log could not be created");
    return;
  }
  b.logCreated = true;
  const char* argv[kMaxArgs];
  char numbers[3][16];
  ToolArguments(b.board, numbers, argv);
  if (StartChild(index, settings_.toolPath, argv, error) != 0) {
    b.ending = Ending::kStartFailed;
    Finish(index, error);
    return;
  }
  b.phase = Phase::kConnecting;
  ++running_;
}

void Runner::Stop(int index, Ending why) {
  if (killed_[index] != Ending::kNone) return;
  killed_[index] = why;
  KillChild(index);
}

void Runner::Finish(int index, const char* detail) {
  BoardState& b = boards_[index];
  b.endS = Now();
  for (int kind = 0; kind < BOARD_RECORD_KINDS; ++kind) {
    FILE* file = records_[index][kind];
    if (file == nullptr) continue;
    records_[index][kind] = nullptr;
    if (std::fclose(file) != 0) RecordFailed(index, kind, "closing", errno);
  }
  DecideVerdict(&b, settings_.boardTimeoutS, detail);
  view_->BoardEnded(index, b.endS);
}

void Runner::AppendRecord(int index, int kind, bool* made, const char* data, int size) {
  if (!tried_[index][kind]) {
    tried_[index][kind] = true;
    char path[kLogPathSize];
    LogPath(index, BOARD_RECORD_SUFFIXES[kind], path);
    records_[index][kind] = CreateLogFile(path);
    *made = records_[index][kind] != nullptr;
    if (!*made) RecordFailed(index, kind, "creating", errno);
  }
  FILE* file = records_[index][kind];
  if (file == nullptr) return;
  // As it arrives: a log must show how far a board got even if we die.
  const size_t bytes = static_cast<size_t>(size);
  if (std::fwrite(data, 1, bytes, file) != bytes || std::fflush(file) != 0) {
    RecordFailed(index, kind, "writing", errno);
  }
}

void Runner::RecordFailed(int index, int kind, const char* what, int error) {
  BoardState& b = boards_[index];
  b.logComplete = false;
  char path[kLogPathSize];
  LogPath(index, BOARD_RECORD_SUFFIXES[kind], path);
  std::fprintf(stderr, "tcpflash-many: %s %s failed (%s): the record of %s is incomplete\n", what,
               path, std::strerror(error), b.name);
  std::fflush(stderr);
  FILE* file = records_[index][kind];
  records_[index][kind] = nullptr;
  if (file != nullptr) std::fclose(file);
}

void Runner::OnOutput(int slot, ChildStream stream, const char* data, int size) {
  if (stream == ChildStream::kOutput) {
    // The transcript is only kept: what a board prints must not steer us.
    AppendRecord(slot, RECORD_LOG, &boards_[slot].logCreated, data, size);
    return;
  }
  BoardSink sink(this, slot);
  boards_[slot].events.Take(data, size, &sink);
}

void Runner::OnEnd(int slot, const ChildEnd& end) {
  BoardState& b = boards_[slot];
  --running_;
  BoardSink sink(this, slot);
  b.events.Finish(&sink);
  char detail[48] = "";
  if (killed_[slot] != Ending::kNone) {
    b.ending = killed_[slot];
  } else if (end.normal) {
    b.ending = Ending::kExited;
    b.exitStatus = end.status;
  } else {
    b.ending = Ending::kAbnormal;
    DescribeAbnormalEnd(end.code, detail, sizeof detail);
  }
  Finish(slot, detail);
}

bool Runner::Run() {
  int next = 0;
  int stopsSeen = 0;
  view_->Refresh(Now(), true);
  for (;;) {
    const int stops = StopRequests();
    if (stops > stopsSeen) {
      if (stopsSeen == 0) {
        view_->SetNote("stopping: no more boards start; Ctrl-C again stops the running ones");
        std::fprintf(stderr,
                     "tcpflash-many: stopping: no more boards are started, the %d running end "
                     "by themselves (Ctrl-C again stops them)\n",
                     running_);
      }
      if (stops >= 2) {
        view_->SetNote("stopping the running boards");
        for (int i = 0; i < count_; ++i) {
          if (boards_[i].ending == Ending::kNone && boards_[i].phase != Phase::kWaiting) {
            Stop(i, Ending::kStopped);
          }
        }
      }
      stopsSeen = stops;
      view_->Refresh(Now(), true);
    }
    bool started = false;
    while (stopsSeen == 0 && running_ < settings_.jobs && next < count_) {
      Start(next++);
      started = true;
    }
    if (started) view_->Refresh(Now(), true);
    if (running_ == 0 && (stopsSeen > 0 || next >= count_)) break;

    WaitForChildren(kTickMs, this);
    const double now = Now();
    for (int i = 0; i < count_; ++i) {
      const BoardState& b = boards_[i];
      if (settings_.boardTimeoutS > 0 && b.ending == Ending::kNone && b.phase != Phase::kWaiting &&
          now - b.startS > settings_.boardTimeoutS) {
        Stop(i, Ending::kTimedOut);
      }
    }
    view_->Refresh(now, false);
  }
  for (int i = 0; i < count_; ++i) {
    if (boards_[i].ending != Ending::kNone) continue;
    boards_[i].ending = Ending::kNotStarted;
    DecideVerdict(&boards_[i], settings_.boardTimeoutS, "");
  }
  view_->End(Now());
  return stopsSeen > 0;
}

}  // namespace

bool RunBoards(const RunSettings& settings, BoardState* boards, int count, LiveView* view) {
  Runner runner(settings, boards, count, view);
  return runner.Run();
}

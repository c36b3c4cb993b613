#include "many/board_state.h"

#include <cstdio>
#include <cstring>

namespace {

// A text of tcpflash's transcript, the phase it begins (kWaiting: none) and
// the failure it names (0: none). Line ends are left out: on Windows they
// arrive as "\r\n".
struct Marker {
  const char* text;
  Phase phase;
  unsigned failure;
};

constexpr Marker kMarkers[] = {
    {"s init ok", Phase::kConnected, 0},
    {"Starte Update...", Phase::kSwitching, 0},
    {"Updateloader Version received", Phase::kPreparing, 0},
    {"Version request error!", Phase::kPreparing, 0},
    {"Reset Flashdata", Phase::kPreparing, 0},
    {"Transfering image..", Phase::kSending, 0},
    {"Setting Offset", Phase::kFlashing, 0},
    {"Dev reset", Phase::kResetting, 0},
    {"Close ok", Phase::kClosing, 0},
    {"Close err", Phase::kClosing, 0},
    {"Cannot open ", Phase::kWaiting, FAIL_IMAGE},
    {"dll err", Phase::kWaiting, FAIL_SOCKETS},
    {"s error!", Phase::kWaiting, FAIL_CONNECT},
    {"No Device found", Phase::kWaiting, FAIL_NO_DEVICE},
    {"Loop Timeout", Phase::kWaiting, FAIL_LOADER_GONE},
    {"Error starting Updateloader", Phase::kWaiting, FAIL_LOADER_MODE},
    {"Write err", Phase::kWaiting, FAIL_WRITE},
    {"No device state for", Phase::kWaiting, FAIL_NO_STATE},
    {"Flashdata err", Phase::kWaiting, FAIL_STEP},
    {"Offset err", Phase::kWaiting, FAIL_STEP},
    {"Starting Flash err", Phase::kWaiting, FAIL_STEP},
};

// Why a run that tcpflash ended with a failure status failed, by the first
// failure its transcript names; the run-ending ones come first.
constexpr struct {
  unsigned failure;
  const char* why;
} kFailureTexts[] = {
    {FAIL_IMAGE, "image not opened"},
    {FAIL_SOCKETS, "sockets library did not start"},
    {FAIL_CONNECT, "no connection"},
    {FAIL_NO_DEVICE, "no device answered"},
    {FAIL_LOADER_GONE, "update loader unreachable after the switch"},
    {FAIL_LOADER_MODE, "update loader did not start"},
    {FAIL_WRITE, "image transfer broke off"},
    {FAIL_NO_STATE, "no ready report from the board"},
    {FAIL_STEP, "a flash step could not be sent"},
};

// Appends c to state->tail (dropping its oldest byte when full) and takes
// the phase and failure of each marker the tail now ends with.
void NoteByte(BoardState* state, char c) {
  if (state->tailUsed == TRANSCRIPT_TAIL_SIZE) {
    std::memmove(state->tail, state->tail + 1, TRANSCRIPT_TAIL_SIZE - 1);
    --state->tailUsed;
  }
  state->tail[state->tailUsed++] = c;
  for (const Marker& m : kMarkers) {
    const int len = static_cast<int>(std::strlen(m.text));
    if (m.text[len - 1] != c || len > state->tailUsed) continue;
    if (std::memcmp(state->tail + state->tailUsed - len, m.text, static_cast<size_t>(len)) != 0) {
      continue;
    }
    if (m.phase > state->phase) state->phase = m.phase;
    state->failures |= m.failure;
  }
}

// Takes the percentage that state->segment[0,segmentUsed) begins with, if any.
void TakeSegmentPercent(BoardState* state) {
  const int percent = LeadingPercent(state->segment, state->segmentUsed);
  if (percent >= 0) state->percent = percent;
}

}  // namespace

void InitBoardState(const Board& board, BoardState* state) {
  *state = BoardState();
  state->board = board;
  BoardName(board, state->name);
}

void WatchTranscript(BoardState* state, const char* data, int size) {
  for (int i = 0; i < size; ++i) NoteByte(state, data[i]);
}

void WatchErrorStream(BoardState* state, const char* data, int size) {
  for (int i = 0; i < size; ++i) {
    if (data[i] == '\r' || data[i] == '\n') {
      TakeSegmentPercent(state);
      state->segmentUsed = 0;
    } else if (state->segmentUsed < PROGRESS_SEGMENT_SIZE) {
      state->segment[state->segmentUsed++] = data[i];
    }
  }
  // A line redrawn in place ("\r 42% ...") ends only when the next begins.
  TakeSegmentPercent(state);
}

int LeadingPercent(const char* text, int size) {
  int i = 0;
  while (i < size && text[i] == ' ') ++i;
  int value = 0;
  int digits = 0;
  for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (++digits > 3) return -1;
    value = value * 10 + (text[i] - '0');
  }
  if (digits == 0 || i >= size || text[i] != '%' || value > 100) return -1;
  return value;
}

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::kWaiting:
      return "waiting";
    case Phase::kConnecting:
      return "connecting";
    case Phase::kConnected:
      return "connected";
    case Phase::kSwitching:
      return "switching";
    case Phase::kPreparing:
      return "preparing";
    case Phase::kSending:
      return "sending";
    case Phase::kFlashing:
      return "flashing";
    case Phase::kResetting:
      return "resetting";
    case Phase::kClosing:
      return "closing";
  }
  return "?";
}

void DescribePhase(const BoardState& state, char* text, int size) {
  if (state.ending == Ending::kNotStarted || state.ending == Ending::kStartFailed) {
    std::snprintf(text, static_cast<size_t>(size), "not started");
  } else if (state.ending != Ending::kNone) {
    std::snprintf(text, static_cast<size_t>(size), "done");
  } else if (state.phase == Phase::kSending && state.percent >= 0) {
    std::snprintf(text, static_cast<size_t>(size), "sending %d%%", state.percent);
  } else {
    std::snprintf(text, static_cast<size_t>(size), "%s", PhaseName(state.phase));
  }
}

bool Flashed(const BoardState& state) {
  return state.ending == Ending::kExited && state.exitStatus == 0;
}

void DecideVerdict(BoardState* state, int boardTimeoutS, const char* detail) {
  char* out = state->verdict;
  const size_t size = sizeof state->verdict;
  char where[32];
  std::snprintf(where, sizeof where, "%s", PhaseName(state->phase));
  if (state->phase == Phase::kSending && state->percent >= 0) {
    std::snprintf(where, sizeof where, "sending, %d%% sent", state->percent);
  }
  switch (state->ending) {
    case Ending::kNone:
      out[0] = '\0';
      return;
    case Ending::kNotStarted:
      std::snprintf(out, size, "not started: the run was stopped first");
      return;
    case Ending::kStartFailed:
      std::snprintf(out, size, "failed: not started: %.80s", detail);
      return;
    case Ending::kTimedOut:
      std::snprintf(out, size, "failed: no end after %d s, stopped while %s", boardTimeoutS, where);
      return;
    case Ending::kStopped:
      std::snprintf(out, size, "failed: stopped by the operator while %s", where);
      return;
    case Ending::kAbnormal:
      std::snprintf(out, size, "failed: ended abnormally (%.40s) while %s", detail, where);
      return;
    case Ending::kExited:
      break;
  }
  if (state->exitStatus == 0) {
    std::snprintf(out, size, "flashed");
    return;
  }
  for (const auto& f : kFailureTexts) {
    if ((state->failures & f.failure) != 0) {
      std::snprintf(out, size, "failed: %s (while %s)", f.why, where);
      return;
    }
  }
  std::snprintf(out, size, "failed: exit status %d while %s", state->exitStatus, where);
}

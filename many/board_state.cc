#include "many/board_state.h"

#include <cstdio>
#include <cstring>

namespace {

// Longest image a progress event is believed for: its percentage is
// computed in a long long.
constexpr long long kImageSizeMax = 1000000000000000LL;

Phase FromRunPhase(RunPhase phase) {
  switch (phase) {
    case RunPhase::kSwitching:
      return Phase::kSwitching;
    case RunPhase::kLoader:
      return Phase::kLoader;
    case RunPhase::kSending:
      return Phase::kSending;
    case RunPhase::kFlashing:
      return Phase::kFlashing;
    case RunPhase::kResetting:
      return Phase::kResetting;
    case RunPhase::kClosing:
      return Phase::kClosing;
    case RunPhase::kVerifying:
      return Phase::kVerifying;
  }
  return Phase::kWaiting;
}

void Advance(BoardState* state, Phase phase) {
  if (phase > state->phase) state->phase = phase;
}

void TakeProgress(BoardState* state, const EventLine& event) {
  long long sent = 0;
  long long total = 0;
  if (!event.GetInteger("sent", &sent) || !event.GetInteger("total", &total) || sent < 0 ||
      total < 0 || sent > total || total > kImageSizeMax) {
    return;
  }
  state->sent = sent;
  state->total = total;
  state->percent = total == 0 ? 100 : static_cast<int>(sent * 100 / total);
}

// Takes the string field key of event into *version; null or no such field
// leaves it unknown.
void TakeText(const EventLine& event, const char* key, ReportedText* version) {
  const char* text = nullptr;
  int length = 0;
  if (!event.GetString(key, &text, &length)) return;
  if (length > VERSION_TEXT_SIZE) length = VERSION_TEXT_SIZE;
  std::memcpy(version->bytes, text, static_cast<size_t>(length));
  version->length = length;
}

void TakeResult(BoardState* state, const EventLine& event) {
  long long status = 0;
  if (!event.GetInteger("status", &status) || status < -255 || status > 255) return;
  RunFailure failure = RunFailure::kNone;
  const EventField* named = event.Find("failure");
  if (named != nullptr && named->type == JsonType::kString) {
    failure = RunFailureFromName(named->text, static_cast<size_t>(named->length));
  }
  state->resultSeen = true;
  state->resultStatus = static_cast<int>(status);
  state->failure = failure;
  bool skipped = false;
  state->skipped = event.GetBool("skipped", &skipped) && skipped;
  TakeText(event, "application_version_after", &state->applicationVersionAfter);
}

}  // namespace

void InitBoardState(const Board& board, BoardState* state) {
  *state = BoardState();
  state->board = board;
  BoardName(board, state->name);
}

void TakeEvent(BoardState* state, const EventLine& event) {
  const char* text = nullptr;
  int length = 0;
  long long number = 0;
  if (event.StringIs("event", "connected")) {
    // The reconnect after the switch is one too: the phase is past it then.
    Advance(state, Phase::kConnected);
  } else if (event.StringIs("event", "mode")) {
    if (event.GetInteger("mode", &number) && number >= 0 && number <= 255) {
      state->mode = static_cast<int>(number);
    }
  } else if (event.StringIs("event", "version")) {
    if (event.StringIs("of", VersionOfName(VersionOf::kApplication))) {
      TakeText(event, "text", &state->applicationVersion);
    }
    if (event.StringIs("of", VersionOfName(VersionOf::kLoader))) {
      TakeText(event, "text", &state->loaderVersion);
    }
  } else if (event.StringIs("event", "phase")) {
    RunPhase phase = RunPhase::kSwitching;
    if (event.GetString("phase", &text, &length) &&
        RunPhaseFromName(text, static_cast<size_t>(length), &phase)) {
      Advance(state, FromRunPhase(phase));
    }
  } else if (event.StringIs("event", "progress")) {
    TakeProgress(state, event);
  } else if (event.StringIs("event", "result")) {
    TakeResult(state, event);
  }
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
      return RunPhaseName(RunPhase::kSwitching);
    case Phase::kLoader:
      return RunPhaseName(RunPhase::kLoader);
    case Phase::kSending:
      return RunPhaseName(RunPhase::kSending);
    case Phase::kFlashing:
      return RunPhaseName(RunPhase::kFlashing);
    case Phase::kResetting:
      return RunPhaseName(RunPhase::kResetting);
    case Phase::kClosing:
      return RunPhaseName(RunPhase::kClosing);
    case Phase::kVerifying:
      return RunPhaseName(RunPhase::kVerifying);
  }
  return "?";
}

const char* FailureText(RunFailure failure) {
  switch (failure) {
    case RunFailure::kNone:
      return nullptr;
    case RunFailure::kUsage:
      return "tcpflash refused its arguments";
    case RunFailure::kNoAddress:
      return "no address given";
    case RunFailure::kNoImage:
      return "image not opened";
    case RunFailure::kSockets:
      return "sockets library did not start";
    case RunFailure::kAddress:
      return "address not usable";
    case RunFailure::kNoSocket:
      return "no socket could be made";
    case RunFailure::kConnect:
      return "no connection";
    case RunFailure::kNoDevice:
      return "no device answered";
    case RunFailure::kLoaderUnreachable:
      return "update loader unreachable after the switch";
    case RunFailure::kNotLoader:
      return "update loader did not start";
    case RunFailure::kWrite:
      return "image transfer broke off";
    case RunFailure::kImageChanged:
      return "image changed while it was sent";
    case RunFailure::kImageUnreadable:
      return "image could not be read while it was sent";
    case RunFailure::kNoState:
      return "no ready report from the board";
    case RunFailure::kNotOrdered:
      return "a flash step could not be sent";
    case RunFailure::kImageMismatch:
      return "image does not match its SHA-256";
    case RunFailure::kBoot:
      return "did not start its application";
    case RunFailure::kBootLoader:
      return "started its update loader again";
    case RunFailure::kVersionMismatch:
      return "runs another version than expected";
    case RunFailure::kNotReady:
      return "stayed busy past the ready bound";
  }
  return nullptr;
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

bool Succeeded(const BoardState& state) {
  return state.ending == Ending::kExited && state.exitStatus == 0;
}

bool Flashed(const BoardState& state) { return Succeeded(state) && !state.info && !state.skipped; }

void PrintableVersion(const ReportedText& version, char* text, int size) {
  if (version.length < 0) {
    std::snprintf(text, static_cast<size_t>(size), "-");
    return;
  }
  int n = 0;
  for (int i = 0; i < version.length && n < size - 1; ++i) {
    const unsigned char c = static_cast<unsigned char>(version.bytes[i]);
    text[n++] = c < 0x20 || (c >= 0x7F && c <= 0x9F) ? '.' : static_cast<char>(c);
  }
  text[n] = '\0';
}

const ReportedText& RunningVersion(const BoardState& state) {
  if (state.applicationVersionAfter.length >= 0) return state.applicationVersionAfter;
  if (state.applicationVersion.length >= 0) return state.applicationVersion;
  return state.loaderVersion;
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
  char version[VERSION_TEXT_SIZE + 1];
  PrintableVersion(RunningVersion(*state), version, sizeof version);
  if (state->exitStatus == 0) {
    if (state->info) {
      std::snprintf(out, size, "answered");
    } else if (state->skipped) {
      std::snprintf(out, size, "skipped: already runs version %.60s", version);
    } else if (state->applicationVersionAfter.length >= 0) {
      std::snprintf(out, size, "flashed, runs version %.60s", version);
    } else {
      std::snprintf(out, size, "flashed");
    }
    return;
  }
  // The result is believed only when it tells the status the process ended with.
  const char* why = nullptr;
  if (state->resultSeen && (state->resultStatus & 0xFF) == state->exitStatus) {
    why = FailureText(state->failure);
  }
  if (why != nullptr && state->failure == RunFailure::kVersionMismatch &&
      state->applicationVersionAfter.length >= 0) {
    std::snprintf(out, size, "failed: runs version %.60s, not the one expected", version);
  } else if (why != nullptr) {
    std::snprintf(out, size, "failed: %s (while %s)", why, where);
  } else {
    std::snprintf(out, size, "failed: exit status %d while %s", state->exitStatus, where);
  }
}

#include "many/report.h"

#include <cstring>

#include "driver/json_string.h"

namespace {

const char* EndingName(Ending ending) {
  switch (ending) {
    case Ending::kNone:
      return "running";
    case Ending::kNotStarted:
      return "not started";
    case Ending::kStartFailed:
      return "start failed";
    case Ending::kExited:
      return "exited";
    case Ending::kAbnormal:
      return "ended abnormally";
    case Ending::kTimedOut:
      return "timed out";
    case Ending::kStopped:
      return "stopped";
  }
  return "?";
}

// Writes the exit status column, "-" when the board's tcpflash gave none.
void ExitText(const BoardState& b, char* text, size_t size) {
  if (b.ending == Ending::kExited) {
    std::snprintf(text, size, "%d", b.exitStatus);
  } else {
    std::snprintf(text, size, "-");
  }
}

}  // namespace

RunCounts CountOutcomes(const BoardState* boards, int count) {
  RunCounts counts;
  for (int i = 0; i < count; ++i) {
    if (Flashed(boards[i])) {
      ++counts.flashed;
    } else if (boards[i].ending == Ending::kNotStarted || boards[i].ending == Ending::kNone) {
      ++counts.notStarted;
    } else {
      ++counts.failed;
    }
  }
  return counts;
}

int RunExitStatus(const BoardState* boards, int count) {
  for (int i = 0; i < count; ++i) {
    if (!Flashed(boards[i]) || !boards[i].logComplete) return 1;
  }
  return 0;
}

void BoardLogName(const Board& board, const char* suffix, char* name) {
  std::snprintf(name, LOG_NAME_SIZE, "%s_%d%s", board.address, board.port, suffix);
}

void FormatUtcTime(std::time_t time, char* text) {
  const std::tm* utc = std::gmtime(&time);
  if (utc == nullptr || std::strftime(text, UTC_TIME_SIZE, "%Y-%m-%dT%H:%M:%SZ", utc) == 0) {
    std::snprintf(text, UTC_TIME_SIZE, "1970-01-01T00:00:00Z");
  }
}

void PrintResultTable(FILE* out, const BoardState* boards, int count) {
  int verdictWidth = 7;
  for (int i = 0; i < count; ++i) {
    const int len = static_cast<int>(std::strlen(boards[i].verdict));
    if (len > verdictWidth) verdictWidth = len;
  }
  std::fprintf(out, "%-21s  %4s  %-*s  %8s\n", "board", "exit", verdictWidth, "verdict", "time");
  for (int i = 0; i < count; ++i) {
    const BoardState& b = boards[i];
    char exitText[16];
    ExitText(b, exitText, sizeof exitText);
    char timeText[24] = "-";
    if (b.ending != Ending::kNotStarted && b.ending != Ending::kNone) {
      std::snprintf(timeText, sizeof timeText, "%.1f s", b.endS - b.startS);
    }
    std::fprintf(out, "%-21s  %4s  %-*s  %8s\n", b.name, exitText, verdictWidth, b.verdict,
                 timeText);
  }
  const RunCounts counts = CountOutcomes(boards, count);
  std::fprintf(out, "%d board%s: %d flashed, %d failed, %d not started\n", count,
               count == 1 ? "" : "s", counts.flashed, counts.failed, counts.notStarted);
}

int WriteJsonReport(FILE* out, const RunFacts& facts, const BoardState* boards, int count) {
  char started[UTC_TIME_SIZE];
  char ended[UTC_TIME_SIZE];
  FormatUtcTime(facts.started, started);
  FormatUtcTime(facts.ended, ended);
  const RunCounts counts = CountOutcomes(boards, count);
  // Every string through the one writer: paths and board texts may hold
  // any byte, and the report stays valid UTF-8 all the same.
  const auto key = [out](const char* name, const char* value) {
    std::fprintf(out, "\"%s\": ", name);
    if (value != nullptr) {
      WriteJsonString(out, value);
    } else {
      std::fputs("null", out);
    }
  };
  std::fputs("{\n  \"image\": {", out);
  key("name", facts.imagePath);
  std::fprintf(out, ", \"size\": %lld, ", facts.imageSize);
  key("sha256", facts.imageSha256);
  std::fputs("},\n  ", out);
  key("started", started);
  std::fputs(",\n  ", out);
  key("ended", ended);
  std::fputs(",\n  ", out);
  key("log_dir", facts.logDir);
  std::fprintf(out,
               ",\n  \"jobs\": %d,\n  \"board_timeout_s\": %d,\n  \"interrupted\": %s,\n"
               "  \"flashed\": %d,\n  \"failed\": %d,\n  \"not_started\": %d,\n"
               "  \"exit_status\": %d,\n  \"boards\": [",
               facts.jobs, facts.boardTimeoutS, facts.interrupted ? "true" : "false",
               counts.flashed, counts.failed, counts.notStarted, RunExitStatus(boards, count));
  for (int i = 0; i < count; ++i) {
    const BoardState& b = boards[i];
    std::fputs(i == 0 ? "\n    {" : ",\n    {", out);
    key("board", b.name);
    std::fputs(", ", out);
    key("address", b.board.address);
    std::fprintf(out, ", \"port\": %d, \"flashed\": %s, \"exit_status\": ", b.board.port,
                 Flashed(b) ? "true" : "false");
    if (b.ending == Ending::kExited) {
      std::fprintf(out, "%d", b.exitStatus);
    } else {
      std::fputs("null", out);
    }
    std::fputs(", ", out);
    key("ending", EndingName(b.ending));
    std::fputs(", ", out);
    key("verdict", b.verdict);
    std::fputs(", ", out);
    key("phase", PhaseName(b.phase));
    std::fputs(", \"seconds\": ", out);
    if (b.ending != Ending::kNotStarted && b.ending != Ending::kNone) {
      std::fprintf(out, "%.3f", b.endS - b.startS);
    } else {
      std::fputs("null", out);
    }
    char log[LOG_NAME_SIZE];
    BoardLogName(b.board, BOARD_RECORD_SUFFIXES[RECORD_LOG], log);
    std::fputs(", ", out);
    key("log", b.logCreated ? log : nullptr);
    BoardLogName(b.board, BOARD_RECORD_SUFFIXES[RECORD_STDERR_LOG], log);
    std::fputs(", ", out);
    key("stderr_log", b.stderrLogged ? log : nullptr);
    std::fprintf(out, ", \"log_complete\": %s}", b.logComplete ? "true" : "false");
  }
  std::fputs(count > 0 ? "\n  ]\n}\n" : "]\n}\n", out);
  return std::ferror(out) != 0 || std::fflush(out) != 0 ? -1 : 0;
}

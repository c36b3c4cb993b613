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

// Writes a version text the board reported as a JSON string, null when none.
void WriteVersion(FILE* out, const ReportedText& version) {
  if (version.length < 0) {
    std::fputs("null", out);
  } else {
    WriteJsonString(out, version.bytes, static_cast<size_t>(version.length));
  }
}

// Writes "name": value, the value through the one JSON string writer (paths
// and board texts may hold any byte; the report stays valid UTF-8), or
// null for a null value.
void WriteKey(FILE* out, const char* name, const char* value) {
  std::fprintf(out, "\"%s\": ", name);
  if (value != nullptr) {
    WriteJsonString(out, value);
  } else {
    std::fputs("null", out);
  }
}

}  // namespace

RunCounts CountOutcomes(const BoardState* boards, int count) {
  RunCounts counts;
  for (int i = 0; i < count; ++i) {
    if (Succeeded(boards[i])) {
      ++(boards[i].info ? counts.answered : boards[i].skipped ? counts.skipped : counts.flashed);
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
    if (!Succeeded(boards[i]) || !boards[i].logComplete) return 1;
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
  const bool info = count > 0 && boards[0].info;
  int verdictWidth = 7;
  int versionWidth = 7;
  for (int i = 0; i < count; ++i) {
    const int len = static_cast<int>(std::strlen(boards[i].verdict));
    if (len > verdictWidth) verdictWidth = len;
    char version[VERSION_TEXT_SIZE + 1];
    PrintableVersion(RunningVersion(boards[i]), version, sizeof version);
    const int versionLen = static_cast<int>(std::strlen(version));
    if (versionLen > versionWidth) versionWidth = versionLen;
  }
  if (info) {
    std::fprintf(out, "%-21s  %4s  %4s  %-*s  %-*s  %8s\n", "board", "exit", "mode", versionWidth,
                 "version", verdictWidth, "verdict", "time");
  } else {
    std::fprintf(out, "%-21s  %4s  %-*s  %8s\n", "board", "exit", verdictWidth, "verdict", "time");
  }
  for (int i = 0; i < count; ++i) {
    const BoardState& b = boards[i];
    char exitText[16];
    ExitText(b, exitText, sizeof exitText);
    char timeText[24] = "-";
    if (b.ending != Ending::kNotStarted && b.ending != Ending::kNone) {
      std::snprintf(timeText, sizeof timeText, "%.1f s", b.endS - b.startS);
    }
    if (info) {
      char mode[16] = "-";
      if (b.mode >= 0) std::snprintf(mode, sizeof mode, "%d", b.mode);
      char version[VERSION_TEXT_SIZE + 1];
      PrintableVersion(RunningVersion(b), version, sizeof version);
      std::fprintf(out, "%-21s  %4s  %4s  %-*s  %-*s  %8s\n", b.name, exitText, mode, versionWidth,
                   version, verdictWidth, b.verdict, timeText);
    } else {
      std::fprintf(out, "%-21s  %4s  %-*s  %8s\n", b.name, exitText, verdictWidth, b.verdict,
                   timeText);
    }
  }
  const RunCounts counts = CountOutcomes(boards, count);
  char done[48];
  if (info) {
    std::snprintf(done, sizeof done, "%d answered", counts.answered);
  } else if (counts.skipped > 0) {
    std::snprintf(done, sizeof done, "%d flashed, %d skipped", counts.flashed, counts.skipped);
  } else {
    std::snprintf(done, sizeof done, "%d flashed", counts.flashed);
  }
  std::fprintf(out, "%d board%s: %s, %d failed, %d not started\n", count, count == 1 ? "" : "s",
               done, counts.failed, counts.notStarted);
}

int WriteJsonReport(FILE* out, const RunFacts& facts, const BoardState* boards, int count) {
  char started[UTC_TIME_SIZE];
  char ended[UTC_TIME_SIZE];
  FormatUtcTime(facts.started, started);
  FormatUtcTime(facts.ended, ended);
  const RunCounts counts = CountOutcomes(boards, count);
  if (facts.imagePath != nullptr) {
    std::fputs("{\n  \"image\": {", out);
    WriteKey(out, "name", facts.imagePath);
    std::fprintf(out, ", \"size\": %lld, ", facts.imageSize);
    WriteKey(out, "sha256", facts.imageSha256);
    std::fputs("},\n", out);
  } else {
    std::fputs("{\n  \"image\": null,\n", out);
  }
  const bool info = facts.imagePath == nullptr;
  std::fputs("  ", out);
  WriteKey(out, "started", started);
  std::fputs(",\n  ", out);
  WriteKey(out, "ended", ended);
  std::fputs(",\n  ", out);
  WriteKey(out, "log_dir", facts.logDir);
  std::fprintf(out, ",\n  \"jobs\": %d,\n  \"board_timeout_s\": ", facts.jobs);
  if (facts.boardTimeoutS > 0) {
    std::fprintf(out, "%d", facts.boardTimeoutS);
  } else {
    std::fputs("null", out);
  }
  std::fprintf(out,
               ",\n  \"info\": %s,\n  \"verify\": %s,\n  \"interrupted\": %s,\n"
               "  \"flashed\": %d,\n  \"skipped\": %d,\n  \"answered\": %d,\n"
               "  \"failed\": %d,\n  \"not_started\": %d,\n  \"exit_status\": %d,\n"
               "  \"boards\": [",
               info ? "true" : "false", facts.verify ? "true" : "false",
               facts.interrupted ? "true" : "false", counts.flashed, counts.skipped,
               counts.answered, counts.failed, counts.notStarted, RunExitStatus(boards, count));
  for (int i = 0; i < count; ++i) {
    const BoardState& b = boards[i];
    std::fputs(i == 0 ? "\n    {" : ",\n    {", out);
    WriteKey(out, "board", b.name);
    std::fputs(", ", out);
    WriteKey(out, "address", b.board.address);
    std::fprintf(out, ", \"port\": %d, ", b.board.port);
    std::fprintf(out, "\"flashed\": %s, \"skipped\": %s, \"verified\": %s, \"exit_status\": ",
                 Flashed(b) ? "true" : "false", Succeeded(b) && b.skipped ? "true" : "false",
                 Flashed(b) && facts.verify ? "true" : "false");
    if (b.ending == Ending::kExited) {
      std::fprintf(out, "%d", b.exitStatus);
    } else {
      std::fputs("null", out);
    }
    std::fputs(", ", out);
    WriteKey(out, "ending", EndingName(b.ending));
    std::fputs(", ", out);
    WriteKey(out, "verdict", b.verdict);
    std::fputs(", ", out);
    WriteKey(out, "phase", PhaseName(b.phase));
    std::fputs(", ", out);
    WriteKey(out, "failure", RunFailureName(b.failure));
    std::fputs(", \"percent_sent\": ", out);
    if (b.percent >= 0) {
      std::fprintf(out, "%d", b.percent);
    } else {
      std::fputs("null", out);
    }
    std::fputs(", \"mode\": ", out);
    if (b.mode >= 0) {
      std::fprintf(out, "%d", b.mode);
    } else {
      std::fputs("null", out);
    }
    std::fputs(", \"application_version\": ", out);
    WriteVersion(out, b.applicationVersion);
    std::fputs(", \"loader_version\": ", out);
    WriteVersion(out, b.loaderVersion);
    std::fputs(", \"application_version_after\": ", out);
    WriteVersion(out, b.applicationVersionAfter);
    std::fputs(", \"seconds\": ", out);
    if (b.ending != Ending::kNotStarted && b.ending != Ending::kNone) {
      std::fprintf(out, "%.3f", b.endS - b.startS);
    } else {
      std::fputs("null", out);
    }
    const struct {
      const char* key;
      BoardRecord record;
      bool made;
    } kRecords[] = {{"log", RECORD_LOG, b.logCreated},
                    {"events_log", RECORD_EVENTS, b.eventsLogged},
                    {"stderr_log", RECORD_STDERR_LOG, b.stderrLogged}};
    for (const auto& r : kRecords) {
      char log[LOG_NAME_SIZE];
      BoardLogName(b.board, BOARD_RECORD_SUFFIXES[r.record], log);
      std::fputs(", ", out);
      WriteKey(out, r.key, r.made ? log : nullptr);
    }
    std::fprintf(out, ", \"log_complete\": %s}", b.logComplete ? "true" : "false");
  }
  std::fputs(count > 0 ? "\n  ]\n}\n" : "]\n}\n", out);
  return std::ferror(out) != 0 || std::fflush(out) != 0 ? -1 : 0;
}

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
    std::fputs("{\n  \"image\": {\"name\": ", out);
    WriteJsonString(out, facts.imagePath);
    std::fprintf(out, ", \"size\": %lld, \"sha256\": \"%s\"},\n", facts.imageSize,
                 facts.imageSha256);
  } else {
    std::fputs("{\n  \"image\": null,\n", out);
  }
  const bool info = facts.imagePath == nullptr;
  std::fprintf(out, "  \"started\": \"%s\",\n  \"ended\": \"%s\",\n", started, ended);
  std::fputs("  \"log_dir\": ", out);
  WriteJsonString(out, facts.logDir);
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
               counts.answered, counts.failed, counts.notStarted,
               counts.succeeded() == count ? 0 : 1);
  for (int i = 0; i < count; ++i) {
    const BoardState& b = boards[i];
    std::fprintf(out, "%s\n    {\"board\": \"%s\", \"address\": \"%s\", \"port\": %d, ",
                 i == 0 ? "" : ",", b.name, b.board.address, b.board.port);
    std::fprintf(out, "\"flashed\": %s, \"skipped\": %s, \"verified\": %s, \"exit_status\": ",
                 Flashed(b) ? "true" : "false", Succeeded(b) && b.skipped ? "true" : "false",
                 Flashed(b) && facts.verify ? "true" : "false");
    if (b.ending == Ending::kExited) {
      std::fprintf(out, "%d", b.exitStatus);
    } else {
      std::fputs("null", out);
    }
    std::fprintf(out, ", \"ending\": \"%s\", \"verdict\": ", EndingName(b.ending));
    WriteJsonString(out, b.verdict);
    std::fprintf(out, ", \"phase\": \"%s\", \"failure\": ", PhaseName(b.phase));
    const char* failure = RunFailureName(b.failure);
    if (failure != nullptr) {
      WriteJsonString(out, failure);
    } else {
      std::fputs("null", out);
    }
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
    char log[LOG_NAME_SIZE];
    BoardLogName(b.board, ".log", log);
    std::fputs(", \"log\": ", out);
    if (b.logCreated) {
      std::fprintf(out, "\"%s\"", log);
    } else {
      std::fputs("null", out);
    }
    BoardLogName(b.board, ".events.jsonl", log);
    std::fputs(", \"events_log\": ", out);
    if (b.eventsLogged) {
      std::fprintf(out, "\"%s\"", log);
    } else {
      std::fputs("null", out);
    }
    BoardLogName(b.board, ".stderr.log", log);
    std::fputs(", \"stderr_log\": ", out);
    if (b.stderrLogged) {
      std::fprintf(out, "\"%s\"}", log);
    } else {
      std::fputs("null}", out);
    }
  }
  std::fputs(count > 0 ? "\n  ]\n}\n" : "]\n}\n", out);
  return std::ferror(out) != 0 || std::fflush(out) != 0 ? -1 : 0;
}

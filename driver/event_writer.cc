#include "driver/event_writer.h"

#include "driver/json_string.h"

EventWriter::EventWriter(FILE* out, const char* toolVersion, long long startMs,
                         MillisecondClock clock)
    : out_(out), toolVersion_(toolVersion), startMs_(startMs), clock_(clock) {}

void EventWriter::Begin(const char* name, long long nowMs) {
  const long long ms = nowMs - startMs_;
  std::fprintf(out_, "{\"t\": %lld.%03lld, \"event\": \"%s\"", ms / 1000, ms % 1000, name);
}

void EventWriter::Finish() {
  std::fputs("}\n", out_);
  std::fflush(out_);
}

void EventWriter::Started(const char* address, int port, const char* imagePath,
                          long long imageSize) {
  Begin("start", clock_());
  std::fputs(", \"tool\": \"tcpflash\", \"version\": ", out_);
  WriteJsonString(out_, toolVersion_);
  std::fputs(", \"address\": ", out_);
  WriteJsonString(out_, address);
  std::fprintf(out_, ", \"port\": %d, \"image\": ", port);
  if (imagePath != nullptr) {
    WriteJsonString(out_, imagePath);
  } else {
    std::fputs("null", out_);
  }
  if (imageSize >= 0) {
    std::fprintf(out_, ", \"size\": %lld", imageSize);
  } else {
    std::fputs(", \"size\": null", out_);
  }
  Finish();
}

void EventWriter::Connected(int attempt) {
  Begin("connected", clock_());
  std::fprintf(out_, ", \"attempt\": %d", attempt);
  Finish();
}

void EventWriter::ModeReported(int mode) {
  Begin("mode", clock_());
  std::fprintf(out_, ", \"mode\": %d", mode);
  Finish();
}

void EventWriter::VersionReported(VersionOf of, const uint8_t* text, int length) {
  Begin("version", clock_());
  std::fprintf(out_, ", \"of\": \"%s\", \"text\": ", VersionOfName(of));
  WriteJsonString(out_, reinterpret_cast<const char*>(text),
                  static_cast<size_t>(length > 0 ? length : 0));
  Finish();
}

void EventWriter::PhaseBegan(RunPhase phase) {
  Begin("phase", clock_());
  std::fprintf(out_, ", \"phase\": \"%s\"", RunPhaseName(phase));
  Finish();
}

void EventWriter::TransferAdvanced(long long sent, long long total, bool done) {
  // Called for every data frame: the clock is read only now and then.
  long long now = 0;
  if (!done && sent > 0) {
    if (--updatesUntilClockRead_ > 0) return;
    updatesUntilClockRead_ = PROGRESS_UPDATES_PER_CLOCK_READ;
    now = clock_();
    if (now - lastProgressMs_ < EVENT_PROGRESS_INTERVAL_MS) return;
  } else {
    now = clock_();
  }
  lastProgressMs_ = now;
  Begin("progress", now);
  std::fprintf(out_, ", \"sent\": %lld, \"total\": %lld", sent, total);
  Finish();
}

void EventWriter::StepSent(RunStep step, bool ok) {
  Begin("step", clock_());
  std::fprintf(out_, ", \"step\": \"%s\", \"ok\": %s", RunStepName(step), ok ? "true" : "false");
  Finish();
}

void EventWriter::Ended(const RunResult& result) {
  const long long now = clock_();
  Begin("result", now);
  std::fprintf(out_, ", \"status\": %d, \"flashed\": %s, \"failure\": ", result.status,
               result.flashed ? "true" : "false");
  const char* failure = RunFailureName(result.failure);
  if (failure != nullptr) {
    std::fprintf(out_, "\"%s\"", failure);
  } else {
    std::fputs("null", out_);
  }
  const long long ms = now - startMs_;
  std::fprintf(out_, ", \"seconds\": %lld.%03lld, \"application_version_after\": ", ms / 1000,
               ms % 1000);
  if (result.hasVersionAfter) {
    WriteJsonString(out_, reinterpret_cast<const char*>(result.versionAfter.bytes),
                    static_cast<size_t>(result.versionAfter.length));
  } else {
    std::fputs("null", out_);
  }
  std::fprintf(out_, ", \"skipped\": %s", result.skipped ? "true" : "false");
  Finish();
}

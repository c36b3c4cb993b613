// The event stream of --events: one JSON object per line (JSON Lines),
// written and flushed as each event happens.
#ifndef TCPFLASH_DRIVER_EVENT_WRITER_H_
#define TCPFLASH_DRIVER_EVENT_WRITER_H_

#include <cstdio>

#include "driver/progress.h"
#include "driver/run_events.h"

// Shortest time between two progress events while the image goes out.
constexpr int EVENT_PROGRESS_INTERVAL_MS = 200;

class EventWriter final : public RunObserver {
 public:
  // Writes to out, which stays open and owned by the caller. Times ("t",
  // "seconds") count from startMs on clock; toolVersion goes into the start
  // event.
  EventWriter(FILE* out, const char* toolVersion, long long startMs,
              MillisecondClock clock = SteadyMilliseconds);

  void Started(const char* address, int port, const char* imagePath, long long imageSize) override;
  void Connected(int attempt) override;
  void ModeReported(int mode) override;
  void VersionReported(VersionOf of, const uint8_t* text, int length) override;
  void PhaseBegan(RunPhase phase) override;
  void TransferAdvanced(long long sent, long long total, bool done) override;
  void StepSent(RunStep step, bool ok) override;
  void Ended(const RunResult& result) override;

 private:
  // Starts an event's line: {"t": ..., "event": "<name>"; the caller adds
  // its keys and calls Finish.
  void Begin(const char* name, long long nowMs);
  void Finish();

  FILE* out_;
  const char* toolVersion_;
  long long startMs_;
  MillisecondClock clock_;
  long long lastProgressMs_ = 0;
  int updatesUntilClockRead_ = 0;
};

#endif  // TCPFLASH_DRIVER_EVENT_WRITER_H_

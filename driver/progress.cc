#include "driver/progress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstring>

namespace {

// Below this the rate is mostly the start-up of the connection: not shown.
constexpr long long RATE_MIN_MS = 100;
constexpr double KILO = 1e3;
constexpr double MEGA = 1e6;
constexpr double SECONDS_SHOWN_MAX = 99;
constexpr double MINUTES_SHOWN_MAX = 9999;

// Appends printf-style text to line[0,PROGRESS_TEXT_MAX], cut to fit;
// *length is the length so far and stays at most PROGRESS_TEXT_MAX.
void Append(char* line, int* length, const char* format, ...) {
  const int room = PROGRESS_TEXT_MAX + 1 - *length;
  if (room <= 1) return;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line + *length, static_cast<size_t>(room), format, args);
  va_end(args);
  if (n > 0) *length += std::min(n, room - 1);
}

}  // namespace

long long SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int FormatTransferLine(long long done, long long total, long long elapsedMs, char* text, int size) {
  char line[PROGRESS_TEXT_MAX + 1];
  int length = 0;
  const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
  const bool mega = total >= static_cast<long long>(MEGA);
  const double unit = mega ? MEGA : KILO;
  Append(line, &length, " %3d%%  %.1f/%.1f %s", percent, static_cast<double>(done) / unit,
         static_cast<double>(total) / unit, mega ? "MB" : "kB");
  if (done > 0 && elapsedMs >= RATE_MIN_MS) {
    const double rate = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
    if (rate >= MEGA) {
      Append(line, &length, "  %.1f MB/s", rate / MEGA);
    } else {
      Append(line, &length, "  %.1f kB/s", rate / KILO);
    }
    // Whole seconds, rounded up: "0 s left" only when nothing is left.
    const double seconds = std::ceil(static_cast<double>(total - done) / rate);
    if (seconds <= SECONDS_SHOWN_MAX) {
      Append(line, &length, "  %d s left", static_cast<int>(seconds));
    } else if (seconds <= MINUTES_SHOWN_MAX * 60) {
      Append(line, &length, "  %d min left", static_cast<int>(std::ceil(seconds / 60)));
    }
  }
  const int copied = std::min(length, size - 1);
  std::memcpy(text, line, static_cast<size_t>(copied));
  text[copied] = '\0';
  return copied;
}

Progress::Progress(FILE* out, bool enabled, MillisecondClock clock)
    : out_(out), enabled_(enabled && out != nullptr), clock_(clock) {}

void Progress::Start(long long total) {
  if (!enabled_) return;
  total_ = total;
  startMs_ = clock_();
  lastDrawMs_ = startMs_;
  updatesUntilClockRead_ = PROGRESS_UPDATES_PER_CLOCK_READ;
  char line[PROGRESS_TEXT_MAX + 1];
  Draw(line, FormatTransferLine(0, total_, 0, line, sizeof line));
}

void Progress::Update(long long done) {
  if (!enabled_ || --updatesUntilClockRead_ > 0) return;
  updatesUntilClockRead_ = PROGRESS_UPDATES_PER_CLOCK_READ;
  const long long now = clock_();
  if (now - lastDrawMs_ < PROGRESS_REDRAW_MS) return;
  lastDrawMs_ = now;
  char line[PROGRESS_TEXT_MAX + 1];
  Draw(line, FormatTransferLine(std::min(std::max(done, 0LL), total_), total_, now - startMs_, line,
                                sizeof line));
}

void Progress::Show(const char* text) {
  if (!enabled_) return;
  int length = 0;
  while (length < PROGRESS_TEXT_MAX && text[length] != '\0') ++length;
  Draw(text, length);
}

void Progress::Erase() {
  if (!enabled_ || width_ == 0) return;
  char buffer[2 * PROGRESS_TEXT_MAX];
  std::memset(buffer, ' ', static_cast<size_t>(width_));
  std::memset(buffer + width_, '\b', static_cast<size_t>(width_));
  std::fwrite(buffer, 1, 2 * static_cast<size_t>(width_), out_);
  std::fflush(out_);
  width_ = 0;
}

// Writes text[0,length) over the display, blanks over whatever of the
// previous display stands beyond it, then backspaces to where it began.
// length <= PROGRESS_TEXT_MAX, and so is width_.
void Progress::Draw(const char* text, int length) {
  const int covered = std::max(length, width_);
  char buffer[2 * PROGRESS_TEXT_MAX];
  std::memcpy(buffer, text, static_cast<size_t>(length));
  std::memset(buffer + length, ' ', static_cast<size_t>(covered - length));
  std::memset(buffer + covered, '\b', static_cast<size_t>(covered));
  std::fwrite(buffer, 1, 2 * static_cast<size_t>(covered), out_);
  std::fflush(out_);
  width_ = length;
}

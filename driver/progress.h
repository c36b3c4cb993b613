// A live progress display on standard error for the operator at a terminal.
//
// The display is drawn where the cursor stands and always leaves the cursor
// back where it began, moving only with backspaces: the console text already
// on that line stays, and once the display is erased the next console text
// continues exactly where it would have without it. Backspaces and blanks
// behave alike in a Windows console and in a POSIX terminal, so no terminal
// control sequences are needed. The display is short enough to fit an
// 80-column line behind the longest console text it follows.
#ifndef TCPFLASH_DRIVER_PROGRESS_H_
#define TCPFLASH_DRIVER_PROGRESS_H_

#include <cstdio>

// Widest text the display shows, in columns.
constexpr int PROGRESS_TEXT_MAX = 48;
// Shortest time between two redraws of the transfer line.
constexpr int PROGRESS_REDRAW_MS = 200;
// The transfer line reads the clock once per this many updates: an update
// comes with every 750-byte data frame, and reading the clock for each would
// show in the data rate.
constexpr int PROGRESS_UPDATES_PER_CLOCK_READ = 8;

// Milliseconds on a clock that never goes back.
using MillisecondClock = long long (*)();
long long SteadyMilliseconds();

// Writes the transfer line for done of total bytes (0 <= done <= total), of
// which the first were sent elapsedMs ago, into text[0,size) and returns its
// length (at most size - 1, and at most PROGRESS_TEXT_MAX; size >= 1). Reads
// nothing else. Example: "  42%  1.6/3.8 MB  1.1 MB/s  2 s left"; the rate and
// the time left appear only once elapsedMs and done say something about them.
int FormatTransferLine(long long done, long long total, long long elapsedMs, char* text, int size);

class Progress {
 public:
  // Draws on out when enabled; a disabled Progress writes nothing at all and
  // out may then be null. clock is read for the transfer line only.
  Progress(FILE* out, bool enabled, MillisecondClock clock = SteadyMilliseconds);

  bool Enabled() const { return enabled_; }

  // A transfer of total bytes begins: draws its line at 0 %.
  void Start(long long total);
  // done bytes of the transfer have gone out. Cheap: redraws the line only
  // when PROGRESS_REDRAW_MS have passed since the last draw, reading the
  // clock once per PROGRESS_UPDATES_PER_CLOCK_READ calls.
  void Update(long long done);
  // Shows text (at most PROGRESS_TEXT_MAX columns are used) in place of what
  // the display showed, at once.
  void Show(const char* text);
  // Removes the display; the cursor stands where it stood before the first
  // draw. Does nothing when nothing is shown.
  void Erase();

 private:
  void Draw(const char* text, int length);

  FILE* out_;
  bool enabled_;
  MillisecondClock clock_;
  int width_ = 0;  // columns the display covers now
  long long total_ = 0;
  long long startMs_ = 0;
  long long lastDrawMs_ = 0;
  int updatesUntilClockRead_ = 0;
};

#endif  // TCPFLASH_DRIVER_PROGRESS_H_

#include "driver/progress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/testutil.h"

namespace {

long long fakeNow = 0;
int clockReads = 0;

long long FakeClock() {
  ++clockReads;
  return fakeNow;
}

// One terminal line as an operator sees it: printable bytes overwrite the
// cell under the cursor and advance it, a backspace moves it back.
struct Line {
  std::string cells;
  size_t cursor = 0;

  void Write(const std::string& bytes) {
    for (char c : bytes) {
      if (c == '\b') {
        if (cursor > 0) --cursor;
        continue;
      }
      ASSERT_TRUE(c >= ' ' && c <= '~') << "control byte " << static_cast<int>(c);
      if (cursor == cells.size()) cells.push_back(' ');
      cells[cursor++] = c;
    }
  }
  // The line without trailing blanks.
  std::string Visible() const { return cells.substr(0, cells.find_last_not_of(' ') + 1); }
};

class ProgressTest : public testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 1000;
    clockReads = 0;
    file = std::tmpfile();
    ASSERT_NE(file, nullptr);
  }
  void TearDown() override { std::fclose(file); }

  // What the display has written since the last call.
  std::string Written() {
    const std::string all = StreamText(file);
    std::string fresh = all.substr(seen);
    seen = all.size();
    return fresh;
  }

  FILE* file = nullptr;
  size_t seen = 0;
};

TEST(FormatTransferLineTest, Fields) {
  struct Case {
    long long done, total, elapsedMs;
    const char* line;
  };
  const Case cases[] = {
      {0, 3800000, 0, "   0%  0.0/3.8 MB"},
      {1600000, 3800000, 1000, "  42%  1.6/3.8 MB  1.6 MB/s  2 s left"},
      {3800000, 3800000, 2000, " 100%  3.8/3.8 MB  1.9 MB/s  0 s left"},
      {150000, 300000, 500, "  50%  150.0/300.0 kB  300.0 kB/s  1 s left"},
      {0, 0, 0, " 100%  0.0/0.0 kB"},
      // Too early for a rate that means anything.
      {500000, 1000000, 99, "  50%  0.5/1.0 MB"},
      {1000000, 100000000, 1000, "   1%  1.0/100.0 MB  1.0 MB/s  99 s left"},
      {1000000, 101000000, 1000, "   0%  1.0/101.0 MB  1.0 MB/s  2 min left"},
      // A rate that promises nothing: no time left at all.
      {1, 1000000000, 100000, "   0%  0.0/1000.0 MB  0.0 kB/s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    char text[PROGRESS_TEXT_MAX + 1];
    const int n = FormatTransferLine(c.done, c.total, c.elapsedMs, text, sizeof text);
    EXPECT_EQ(std::string(text), c.line);
    EXPECT_EQ(n, static_cast<int>(std::string(c.line).size()));
  }
}

TEST(FormatTransferLineTest, NeverOverrunsItsBuffer) {
  // The widest figures, and a buffer smaller than the line.
  char text[PROGRESS_TEXT_MAX + 8];
  std::memset(text, 'x', sizeof text);
  const long long huge = 999999999999LL;
  int n = FormatTransferLine(huge / 3, huge, 1000, text, PROGRESS_TEXT_MAX + 1);
  EXPECT_LE(n, PROGRESS_TEXT_MAX);
  EXPECT_EQ(text[n], '\0');
  EXPECT_EQ(text[PROGRESS_TEXT_MAX + 1], 'x');

  char small[9];
  std::memset(small, 'x', sizeof small);
  n = FormatTransferLine(1600000, 3800000, 1000, small, 8);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(std::string(small), "  42%  ");
  EXPECT_EQ(small[8], 'x');
}

TEST_F(ProgressTest, LeavesTheConsoleLineAsItWas) {
  // The console text before the display must read the same afterwards, and
  // the cursor must stand right behind it, between draws and after erasing.
  const std::string before = "Transfering image..";
  Line line;
  line.Write(before);
  Progress progress(file, true, FakeClock);

  progress.Start(3800000);
  line.Write(Written());
  EXPECT_EQ(line.Visible(), before + "   0%  0.0/3.8 MB");
  EXPECT_EQ(line.cursor, before.size());

  fakeNow += 1000;
  for (int i = 0; i < PROGRESS_UPDATES_PER_CLOCK_READ; ++i) progress.Update(1600000);
  line.Write(Written());
  EXPECT_EQ(line.Visible(), before + "  42%  1.6/3.8 MB  1.6 MB/s  2 s left");
  EXPECT_EQ(line.cursor, before.size());

  // A shorter text leaves nothing of the longer one behind.
  progress.Show("3/10");
  line.Write(Written());
  EXPECT_EQ(line.Visible(), before + "3/10");
  EXPECT_EQ(line.cursor, before.size());

  progress.Erase();
  line.Write(Written());
  EXPECT_EQ(line.Visible(), before);
  EXPECT_EQ(line.cursor, before.size());

  progress.Erase();
  EXPECT_EQ(Written(), "") << "nothing shown, nothing to erase";
}

TEST_F(ProgressTest, RedrawsAtMostEveryInterval) {
  Progress progress(file, true, FakeClock);
  progress.Start(1000000000);
  EXPECT_NE(Written(), "");
  EXPECT_EQ(clockReads, 1);

  // The clock is read once per PROGRESS_UPDATES_PER_CLOCK_READ updates.
  long long done = 0;
  const int kUpdates = 100 * PROGRESS_UPDATES_PER_CLOCK_READ;
  for (int i = 0; i < kUpdates; ++i) progress.Update(done += 750);
  EXPECT_EQ(clockReads, 1 + 100);
  EXPECT_EQ(Written(), "") << "no time has passed";

  fakeNow += PROGRESS_REDRAW_MS - 1;
  for (int i = 0; i < PROGRESS_UPDATES_PER_CLOCK_READ; ++i) progress.Update(done += 750);
  EXPECT_EQ(Written(), "");

  fakeNow += 1;
  for (int i = 0; i < PROGRESS_UPDATES_PER_CLOCK_READ - 1; ++i) progress.Update(done += 750);
  EXPECT_EQ(Written(), "") << "the clock is not read yet";
  progress.Update(done += 750);
  EXPECT_NE(Written(), "");
  for (int i = 0; i < PROGRESS_UPDATES_PER_CLOCK_READ; ++i) progress.Update(done += 750);
  EXPECT_EQ(Written(), "") << "just drawn";
}

TEST_F(ProgressTest, DisabledWritesNothing) {
  Progress progress(file, false, FakeClock);
  EXPECT_FALSE(progress.Enabled());
  progress.Start(5000);
  for (int i = 0; i < 10 * PROGRESS_UPDATES_PER_CLOCK_READ; ++i) progress.Update(i);
  progress.Show("1/10");
  progress.Erase();
  EXPECT_EQ(Written(), "");
  EXPECT_EQ(clockReads, 0);

  Progress nowhere(nullptr, true, FakeClock);
  EXPECT_FALSE(nowhere.Enabled());
  nowhere.Show("1/10");
}

TEST_F(ProgressTest, TextIsCutToTheWidestDisplay) {
  Progress progress(file, true, FakeClock);
  const std::string wide(PROGRESS_TEXT_MAX + 20, '#');
  progress.Show(wide.c_str());
  Line line;
  line.Write(Written());
  EXPECT_EQ(line.Visible(), wide.substr(0, PROGRESS_TEXT_MAX));
  EXPECT_EQ(line.cursor, 0u);
}

}  // namespace

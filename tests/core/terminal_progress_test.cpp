// The command line's progress line: percentage, throughput and time left
// from what the reports say, cut to the terminal.
#include <gtest/gtest.h>

#include "core/terminal_progress.h"

namespace quorvel {
namespace {

TEST(ProgressLine, UnitsAndDurations) {
  EXPECT_EQ(ByteSizeText(0), "0 B");
  EXPECT_EQ(ByteSizeText(1023), "1023 B");
  EXPECT_EQ(ByteSizeText(223826), "218.58 KB");
  EXPECT_EQ(ByteSizeText(10.0 * 1024 * 1024), "10.00 MB");
  EXPECT_EQ(ByteSizeText(1.5 * 1024 * 1024 * 1024), "1.50 GB");
  EXPECT_EQ(DurationText(42), "0:42");
  EXPECT_EQ(DurationText(725), "12:05");
  EXPECT_EQ(DurationText(11050), "3:04:10");
}

// Catches: a rate taken over the wrong span (units instead of bytes, the
// whole run instead of the range), a time left that ignores what remains,
// and figures shown before there is anything to measure.
TEST(ProgressLine, ThroughputAndTimeLeft) {
  BarReading sweep;
  sweep.upper = 100;
  sweep.position = 25;  // 25 blocks of 10 MiB in 5 s: 50 MiB/s, 75 blocks left
  sweep.seconds = 5;
  sweep.unitBytes = 10 << 20;
  sweep.text = "2560000 扇区被扫描";
  EXPECT_EQ(FormatProgressLine(sweep, 200),
            "[#######-----------------------]  25%  50.00 MB/s  0:15 left  2560000 扇区被扫描");

  BarReading records = sweep;  // units that are no bytes: only the time left
  records.unitBytes = 0;
  records.text.clear();
  EXPECT_EQ(FormatProgressLine(records, 200), "[#######-----------------------]  25%  0:15 left");

  BarReading early = sweep;  // under a second, or nothing done yet: no figures
  early.seconds = 0.5;
  EXPECT_EQ(FormatProgressLine(early, 200).find("left"), std::string::npos);
  early.seconds = 10;
  early.position = 0;
  EXPECT_EQ(FormatProgressLine(early, 200).find("left"), std::string::npos);

  BarReading save;  // a save: the file's own range, the run's bytes
  save.upper = 100;
  save.position = 90;
  save.seconds = 0.2;
  save.meterTotal = 300 << 20;
  save.meterDone = 100 << 20;
  save.meterSeconds = 10;
  EXPECT_EQ(FormatProgressLine(save, 200), "[###########################---]  90%  10.00 MB/s  0:20 left");

  BarReading empty;  // an upper bound of 0 draws an empty bar
  EXPECT_EQ(FormatProgressLine(empty, 200), "[------------------------------]   0%");
}

// Catches: a line longer than the terminal, which wraps and breaks the
// carriage-return redraw, cut inside a wide character.
TEST(ProgressLine, CutToTheTerminalOnCharacterBoundaries) {
  BarReading reading;
  reading.upper = 10;
  reading.position = 5;
  reading.text = "已经找到3个分区,继续扫描,稍等...";
  const std::string whole = FormatProgressLine(reading, 200);
  // 39 columns before the text; each character of it takes two.
  EXPECT_EQ(FormatProgressLine(reading, 44), "[###############---------------]  50%  已经");
  EXPECT_EQ(FormatProgressLine(reading, 45), "[###############---------------]  50%  已经找");
  EXPECT_EQ(FormatProgressLine(reading, 46), "[###############---------------]  50%  已经找");
  EXPECT_EQ(whole.substr(whole.size() - 3), "...");
}

}  // namespace
}  // namespace quorvel

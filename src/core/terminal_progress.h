#pragma once
// Progress bar on stderr for the command line: percentage, throughput and
// the time left, the way ddrescue and PhotoRec users read them. Silent when
// stderr is not a terminal or when the user asked for quiet output.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/progress_sink.h"

namespace quorvel {

// Bytes as "512 B", "218.58 KB", "12.30 MB", "1.50 GB" (powers of 1024).
std::string ByteSizeText(double bytes);
// Seconds as "0:42", "12:05" or "3:04:10".
std::string DurationText(double seconds);

// What one line of the bar shows.
struct BarReading {
  uint64_t upper = 0, position = 0;
  double seconds = 0;      // since the range began
  uint64_t unitBytes = 0;  // bytes one unit of the position stands for; 0: none
  // A byte count over the whole run (a save of many files), when one is kept.
  uint64_t meterTotal = 0, meterDone = 0;
  double meterSeconds = 0;
  std::string text;  // the operation's own progress text
};
// "[####------]  42%  35.10 MB/s  1:12 left  text", cut to `columns`
// terminal columns. Throughput and time left appear once a second has passed
// and something moved.
std::string FormatProgressLine(const BarReading& reading, size_t columns);

class TerminalProgressBar : public ProgressSink {
 public:
  explicit TerminalProgressBar(bool quiet);
  ~TerminalProgressBar() override;
  void Range(uint64_t upper, uint64_t step) override;
  void Step() override;
  void Pos(uint64_t position) override;
  void BytesPerUnit(uint64_t bytes) override;
  void Text(const std::string& text) override;
  void Close() override;
  bool active() const { return active_; }

  // For work whose ranges restart per item (a save: one range per file):
  // throughput and time left over the whole run, from done() bytes of total.
  // done is called on the reporting thread.
  void MeasureBytes(uint64_t total, std::function<uint64_t()> done);

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(bool force);
  bool active_;
  size_t columns_ = 80;
  std::mutex mutex_;
  uint64_t upper_ = 100, step_ = 1, position_ = 0, unitBytes_ = 0;
  std::string text_;
  bool drawn_ = false;
  Clock::time_point rangeStart_ = Clock::now();
  Clock::time_point lastDraw_{};
  uint64_t meterTotal_ = 0;
  std::function<uint64_t()> meterDone_;
  Clock::time_point meterStart_{};
};

}  // namespace quorvel

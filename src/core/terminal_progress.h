#pragma once
// Progress bar on stderr for the command line; silent when stderr is not a
// terminal or when the user asked for quiet output.
#include <chrono>
#include <mutex>
#include <string>

#include "core/progress_sink.h"

namespace quorvel {

class TerminalProgressBar : public ProgressSink {
 public:
  explicit TerminalProgressBar(bool quiet);
  ~TerminalProgressBar() override;
  void Range(uint64_t upper, uint64_t step) override;
  void Step() override;
  void Pos(uint64_t position) override;
  void Text(const std::string& text) override;
  void Close() override;
  bool active() const { return active_; }

 private:
  void Draw(bool force);
  bool active_;
  std::mutex mutex_;
  uint64_t upper_ = 100, step_ = 1, position_ = 0;
  std::string text_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace quorvel

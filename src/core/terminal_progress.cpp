#include "core/terminal_progress.h"

#include <unistd.h>
#include <algorithm>
#include <cstdio>

namespace quorvel {

TerminalProgressBar::TerminalProgressBar(bool quiet) : active_(!quiet && isatty(STDERR_FILENO)) {}

TerminalProgressBar::~TerminalProgressBar() { Close(); }

void TerminalProgressBar::Range(uint64_t upper, uint64_t step) {
  std::lock_guard<std::mutex> lock(mutex_);
  upper_ = upper;
  step_ = step;
  position_ = 0;
  Draw(false);
}
void TerminalProgressBar::Step() {
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = std::min(upper_, position_ + step_);
  Draw(false);
}
void TerminalProgressBar::Pos(uint64_t position) {
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = std::min(upper_, position);
  Draw(false);
}
void TerminalProgressBar::Text(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  text_ = text;
  Draw(false);
}
void TerminalProgressBar::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (active_ && drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
}

void TerminalProgressBar::Draw(bool force) {
  if (!active_) return;
  auto now = std::chrono::steady_clock::now();
  // Redrawing per record would cost more than the scan itself.
  if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  const int width = 30;
  int percent = upper_ ? static_cast<int>(position_ * 100 / upper_) : 0;
  int filled = percent * width / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(width, '-');
  std::fprintf(stderr, "\r\033[K[%s] %3d%% %s", bar.c_str(), percent, text_.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace quorvel

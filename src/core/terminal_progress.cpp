#include "core/terminal_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorvel {

std::string ByteSizeText(double bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  if (bytes < 1024) return std::to_string(static_cast<uint64_t>(std::max(0.0, bytes))) + " B";
  int unit = -1;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %s", bytes, kUnits[unit]);
  return text;
}

std::string DurationText(double seconds) {
  const uint64_t total = static_cast<uint64_t>(std::max(0.0, std::round(seconds)));
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(total / 3600),
                  static_cast<unsigned long long>(total / 60 % 60), static_cast<unsigned long long>(total % 60));
  else
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(total / 60),
                  static_cast<unsigned long long>(total % 60));
  return text;
}

namespace {

// Terminal columns of a UTF-8 character starting at p: East Asian wide
// characters take two. Enough for the texts the operations report.
size_t CharacterColumns(unsigned char lead, uint32_t codePoint) {
  if (lead < 0x80) return 1;
  return codePoint >= 0x1100 ? 2 : 1;
}

// text cut to at most `columns` terminal columns, on a character boundary.
std::string FitColumns(const std::string& text, size_t columns) {
  size_t used = 0, i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    length = std::min(length, text.size() - i);
    uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    const size_t width = CharacterColumns(lead, codePoint);
    if (used + width > columns) break;
    used += width;
    i += length;
  }
  return text.substr(0, i);
}

}  // namespace

std::string FormatProgressLine(const BarReading& r, size_t columns) {
  constexpr int kWidth = 30;
  const int percent = r.upper ? static_cast<int>(std::min(r.position, r.upper) * 100 / r.upper) : 0;
  std::string line = "[" + std::string(static_cast<size_t>(percent * kWidth / 100), '#');
  line.resize(kWidth + 1, '-');
  char number[16];
  std::snprintf(number, sizeof number, "] %3d%%", percent);
  line += number;

  // Over the whole run when a byte count is kept, else over this range.
  double rate = 0, left = -1;
  if (r.meterTotal && r.meterDone && r.meterSeconds >= 1) {
    rate = static_cast<double>(r.meterDone) / r.meterSeconds;
    left = static_cast<double>(r.meterTotal - std::min(r.meterDone, r.meterTotal)) / rate;
  } else if (r.upper && r.position && r.seconds >= 1) {
    const double unitsPerSecond = static_cast<double>(r.position) / r.seconds;
    rate = r.unitBytes ? unitsPerSecond * static_cast<double>(r.unitBytes) : 0;
    left = static_cast<double>(r.upper - std::min(r.position, r.upper)) / unitsPerSecond;
  }
  if (rate > 0) line += "  " + ByteSizeText(rate) + "/s";
  if (left >= 0) line += "  " + DurationText(left) + " left";
  if (!r.text.empty()) line += "  " + r.text;
  return FitColumns(line, columns);
}

TerminalProgressBar::TerminalProgressBar(bool quiet) : active_(!quiet && isatty(STDERR_FILENO)) {
  struct winsize size {};
  // One column short: writing the last column would wrap on some terminals.
  if (active_ && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) columns_ = size.ws_col - 1u;
}

TerminalProgressBar::~TerminalProgressBar() { Close(); }

void TerminalProgressBar::Range(uint64_t upper, uint64_t step) {
  std::lock_guard<std::mutex> lock(mutex_);
  upper_ = upper;
  step_ = step;
  position_ = 0;
  unitBytes_ = 0;
  rangeStart_ = Clock::now();
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
void TerminalProgressBar::BytesPerUnit(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  unitBytes_ = bytes;
}
void TerminalProgressBar::Text(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  text_ = text;
  Draw(false);
}
void TerminalProgressBar::MeasureBytes(uint64_t total, std::function<uint64_t()> done) {
  std::lock_guard<std::mutex> lock(mutex_);
  meterTotal_ = total;
  meterDone_ = std::move(done);
  meterStart_ = Clock::now();
}
void TerminalProgressBar::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (active_ && drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
}

void TerminalProgressBar::Draw(bool force) {
  if (!active_) return;
  const auto now = Clock::now();
  // Redrawing per record would cost more than the scan itself.
  if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  BarReading reading;
  reading.upper = upper_;
  reading.position = position_;
  reading.seconds = std::chrono::duration<double>(now - rangeStart_).count();
  reading.unitBytes = unitBytes_;
  if (meterDone_) {
    reading.meterTotal = meterTotal_;
    reading.meterDone = meterDone_();
    reading.meterSeconds = std::chrono::duration<double>(now - meterStart_).count();
  }
  reading.text = text_;
  std::fprintf(stderr, "\r\033[K%s", FormatProgressLine(reading, columns_).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace quorvel

#include "core/scan_progress.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace quorvel {

void ScanProgress::SetText(const std::string& text) {
  std::string cut = text;
  if (cut.size() >= kTextSize) {
    size_t end = kTextSize - 1;
    // Do not leave half a UTF-8 sequence at the end.
    while (end > 0 && (static_cast<unsigned char>(cut[end]) & 0xC0) == 0x80) --end;
    cut.resize(end);
  }
  {
    std::lock_guard<std::mutex> lock(textMutex_);
    text_ = cut;
  }
  if (sink) sink->Text(cut);
}

std::string ScanProgress::GetText() const {
  std::lock_guard<std::mutex> lock(textMutex_);
  return text_;
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  // Progress texts are short: one pass into the stack, a second only for a
  // longer text (sweeps format one per folder or block).
  char small[256];
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  std::string out;
  if (needed > 0 && static_cast<size_t>(needed) < sizeof small) {
    out.assign(small, static_cast<size_t>(needed));
  } else if (needed > 0) {
    out.resize(static_cast<size_t>(needed));
    std::vsnprintf(out.data(), out.size() + 1, format, args);
  }
  va_end(args);
  return out;
}

}  // namespace quorvel

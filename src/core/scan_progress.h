#pragma once
// The block a long operation shares with whoever shows its progress.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/progress_sink.h"

namespace quorvel {

struct ScanProgress {
  static constexpr size_t kTextSize = 1024;

  // Non-zero asks the worker to stop at its next check point.
  std::atomic<int> stopFlag{0};
  // May be null: reports then go nowhere.
  ProgressSink* sink = nullptr;

  bool StopRequested() const { return stopFlag.load(std::memory_order_relaxed) != 0; }
  void RequestStop() { stopFlag.store(1); }

  // The text is cut to the 1024-byte buffer of the dialog (on a UTF-8 boundary).
  void SetText(const std::string& text);
  std::string GetText() const;

  void Range(uint64_t upper, uint64_t step = 1) {
    if (sink) sink->Range(upper, step);
  }
  void Step() {
    if (sink) sink->Step();
  }
  void Pos(uint64_t position) {
    if (sink) sink->Pos(position);
  }
  void BytesPerUnit(uint64_t bytes) {
    if (sink) sink->BytesPerUnit(bytes);
  }
  void Close() {
    if (sink) sink->Close();
  }

 private:
  mutable std::mutex textMutex_;
  std::string text_;
};

// Formats like printf into a std::string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quorvel

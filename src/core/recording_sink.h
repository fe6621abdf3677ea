#pragma once
// A sink that keeps every report, for tests and for callers that only need the
// final figures.
#include <mutex>
#include <string>
#include <vector>

#include "core/progress_sink.h"

namespace quorvel {

class RecordingSink : public ProgressSink {
 public:
  void Range(uint64_t upper, uint64_t step) override;
  void Step() override;
  void Pos(uint64_t position) override;
  void Text(const std::string& text) override;
  void Close() override;

  uint64_t upper() const;
  uint64_t position() const;
  size_t steps() const;
  size_t ranges() const;
  bool closed() const;
  std::vector<std::string> texts() const;
  std::string lastText() const;

 private:
  mutable std::mutex mutex_;
  uint64_t upper_ = 100, step_ = 1, position_ = 0;
  size_t steps_ = 0, ranges_ = 0;
  bool closed_ = false;
  std::vector<std::string> texts_;
};

}  // namespace quorvel

#pragma once
// The receiving side of a long operation's progress reports. The GUI forwards
// these to its progress dialog, the CLI draws a bar, tests record them.
#include <cstdint>
#include <string>

namespace quorvel {

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // Range: position and lower bound reset to 0, upper bound and step set.
  virtual void Range(uint64_t upper, uint64_t step) = 0;
  // Step: position plus step, clamped to the upper bound. "Posted": may be queued.
  virtual void Step() = 0;
  // Pos: absolute position, clamped.
  virtual void Pos(uint64_t position) = 0;
  // The operation's progress text changed.
  virtual void Text(const std::string& text) = 0;
  // The operation has ended (the dialog closes).
  virtual void Close() = 0;
};

}  // namespace quorvel

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
  // Each unit of the position stands for this many bytes of the source (a
  // sweep's block, a file record), so a sink can show a throughput. Given
  // after Range, which forgets it; sinks that show none ignore it.
  virtual void BytesPerUnit(uint64_t bytes) { (void)bytes; }
  // The operation's progress text changed.
  virtual void Text(const std::string& text) = 0;
  // The operation has ended (the dialog closes).
  virtual void Close() = 0;
};

}  // namespace quorvel

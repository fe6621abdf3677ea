#pragma once
// The window the structure walks read through: at least the sector that holds
// the current position and the one after it, so any field of up to 512 bytes
// at the position is whole. It starts as the caller's two sectors and is read
// again from the source only when the position leaves it. A walk that steps
// on from one window to the next reads twice as much each time (up to 64 KiB),
// so walking the small frames of a real file takes few reads, while a chance
// match on other data, or a walk that jumps over long packets, reads only the
// two sectors it needs.
#include <cstdint>
#include <vector>

#include "core/byte_view.h"
#include "io/byte_source.h"

namespace quorvel {

class CarveWindow {
 public:
  // head: the file's first two sectors (1024 bytes), already in memory.
  CarveWindow(const ByteSource& source, uint64_t startSector, ByteView head);

  // The window's bytes from position on (at least 513 of them).
  ByteView At(uint64_t position);

 private:
  static constexpr size_t kFirstBytes = 1024;
  static constexpr size_t kLargestBytes = 64 * 1024;
  const ByteSource& source_;
  uint64_t startSector_;
  uint64_t windowSector_ = 0;  // the file's sector the window starts at
  std::vector<uint8_t> bytes_;
};

}  // namespace quorvel

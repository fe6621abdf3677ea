#include "scan/carving/carve_window.h"

#include <algorithm>

namespace quorvel {

CarveWindow::CarveWindow(const ByteSource& source, uint64_t startSector, ByteView head)
    : source_(source), startSector_(startSector), bytes_(kFirstBytes, 0) {
  std::copy_n(head.data(), std::min(head.size(), kFirstBytes), bytes_.begin());
}

ByteView CarveWindow::At(uint64_t position) {
  const uint64_t sector = position / kDefaultSectorSize;
  const uint64_t sectors = bytes_.size() / kDefaultSectorSize;
  // The position's sector and the next must both lie in the window.
  if (sector < windowSector_ || sector + 1 >= windowSector_ + sectors) {
    // A walk that steps right on from the window reads more each time; one
    // that jumps far (long packets, big boxes) reads the two sectors it needs.
    const bool stepsOn = sector >= windowSector_ && sector <= windowSector_ + sectors + 1;
    const size_t size = stepsOn ? std::min(bytes_.size() * 2, kLargestBytes) : kFirstBytes;
    windowSector_ = sector;
    bytes_.assign(size, 0);
    source_.ReadAt((startSector_ + sector) * kDefaultSectorSize, bytes_);
  }
  const size_t offset = static_cast<size_t>(position - windowSector_ * kDefaultSectorSize);
  return ByteView(bytes_.data() + offset, bytes_.size() - offset);
}

}  // namespace quorvel

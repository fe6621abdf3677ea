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
    windowSector_ = sector;
    bytes_.assign(nextRead_, 0);
    source_.ReadAt((startSector_ + sector) * kDefaultSectorSize, bytes_);
    nextRead_ = std::min(nextRead_ * 2, kLargestBytes);
  }
  const size_t offset = static_cast<size_t>(position - windowSector_ * kDefaultSectorSize);
  return ByteView(bytes_.data() + offset, bytes_.size() - offset);
}

}  // namespace quorvel

#include "scan/carving/carve_window.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

CarveWindow::CarveWindow(const ByteSource& source, uint64_t startSector, ByteView head)
    : source_(source), startSector_(startSector) {
  std::memcpy(bytes_, head.data(), std::min(head.size(), kBytes));
}

ByteView CarveWindow::At(uint64_t position) {
  const uint64_t sector = position / kDefaultSectorSize;
  if (sector != windowSector_) {
    windowSector_ = sector;
    source_.ReadAt((startSector_ + sector) * kDefaultSectorSize, bytes_);
  }
  const size_t offset = static_cast<size_t>(position % kDefaultSectorSize);
  return ByteView(bytes_ + offset, kBytes - offset);
}

}  // namespace quorvel

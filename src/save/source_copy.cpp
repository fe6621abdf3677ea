#include "save/source_copy.h"

#include <algorithm>
#include <vector>

namespace quorvel {

CopyResult CopySourceRange(const PartitionRecord& partition, SectorDevice* device, uint64_t sector, uint64_t size,
                           TargetFile& file, size_t blockBytes, ScanProgress& progress,
                           const std::function<void(uint64_t)>& afterBlock) {
  CopyResult result;
  uint64_t bytesPerSector = partition.bytesPerSector ? partition.bytesPerSector : kSectorSize;
  // A block is a whole number of sectors so the next one starts on a sector.
  blockBytes = std::max<size_t>(blockBytes - blockBytes % bytesPerSector, bytesPerSector);
  uint64_t roundedSize = (size + bytesPerSector - 1) / bytesPerSector * bytesPerSector;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(blockBytes, roundedSize)));
  while (result.written < size) {
    uint64_t remaining = size - result.written;
    size_t want = static_cast<size_t>(
        std::min<uint64_t>(buffer.size(), (remaining + bytesPerSector - 1) / bytesPerSector * bytesPerSector));
    ReadSourceSectors(partition, device, sector + result.written / bytesPerSector, buffer.data(), want);
    size_t put = static_cast<size_t>(std::min<uint64_t>(remaining, want));
    if (!file.Write(buffer.data(), put)) {
      result.writeFailed = true;
      return result;
    }
    result.written += put;
    if (afterBlock) afterBlock(result.written);
    if (progress.StopRequested() && result.written < size) {
      result.stopped = true;
      return result;
    }
  }
  return result;
}

std::string LowerAscii(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace quorvel

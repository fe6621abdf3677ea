#include "save/source_copy.h"

#include <algorithm>
#include <vector>

namespace quorvel {

uint64_t JobSectorBytes(const SaveJob& job) {
  return job.partition && job.partition->bytesPerSector ? job.partition->bytesPerSector : kDefaultSectorSize;
}

CopyResult CopySourceRange(const SaveJob& job, uint64_t sector, uint64_t size, TargetFile& file, size_t blockBytes,
                           const std::function<void(uint64_t)>& afterBlock) {
  CopyResult result;
  const uint64_t bytesPerSector = JobSectorBytes(job);
  // A block is a whole number of sectors so the next one starts on a sector.
  blockBytes = std::max<size_t>(blockBytes - blockBytes % bytesPerSector, bytesPerSector);
  const uint64_t roundedSize = (size + bytesPerSector - 1) / bytesPerSector * bytesPerSector;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(blockBytes, roundedSize)));
  while (result.written < size) {
    const uint64_t remaining = size - result.written;
    const size_t want = static_cast<size_t>(
        std::min<uint64_t>(buffer.size(), (remaining + bytesPerSector - 1) / bytesPerSector * bytesPerSector));
    const size_t got = ReadSectors(*job.source, sector + result.written / bytesPerSector, bytesPerSector,
                                   std::span<uint8_t>(buffer).first(want));
    const size_t put = static_cast<size_t>(std::min<uint64_t>(remaining, want));
    result.read += std::min(got, put);
    if (!file.Write(buffer.data(), put)) {
      result.writeFailed = true;
      return result;
    }
    result.written += put;
    if (afterBlock) afterBlock(result.written);
    if (job.progress->StopRequested() && result.written < size) {
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

#include "save/source_copy.h"

#include <algorithm>

#include "io/sector_buffer.h"

namespace quorvel {

uint64_t JobSectorBytes(const SaveJob& job) {
  return job.partition && job.partition->bytesPerSector ? job.partition->bytesPerSector : kDefaultSectorSize;
}

CopyResult CopySourceRange(const SaveJob& job, uint64_t sector, uint64_t size, TargetFile& file, size_t blockBytes,
                           uint64_t limit, FileDataTally& tally, const std::function<void(uint64_t)>& afterBlock) {
  CopyResult result;
  const uint64_t bytesPerSector = JobSectorBytes(job);
  const uint64_t fileStart = file.Position();
  // A block is a whole number of sectors so the next one starts on a sector.
  blockBytes = std::max<size_t>(blockBytes - blockBytes % bytesPerSector, bytesPerSector);
  const uint64_t roundedSize = (size + bytesPerSector - 1) / bytesPerSector * bytesPerSector;
  const std::span<uint8_t> buffer = ThreadReadBuffer(static_cast<size_t>(std::min<uint64_t>(blockBytes, roundedSize)));
  if (buffer.size() == 0 && size != 0) {
    result.writeFailed = true;  // no memory for the block: the file fails, it is not cut short
    return result;
  }
  while (result.written < size) {
    const uint64_t remaining = size - result.written;
    const uint64_t at = sector + result.written / bytesPerSector;
    if (at >= limit / bytesPerSector) {
      // The rest lies past the partition's or the source's end: nothing of
      // it exists to be copied.
      tally.unreadable = true;
      break;
    }
    const size_t want = static_cast<size_t>(
        std::min<uint64_t>(buffer.size(), (remaining + bytesPerSector - 1) / bytesPerSector * bytesPerSector));
    const size_t put = static_cast<size_t>(std::min<uint64_t>(remaining, want));
    // A block none of which could be read stays a hole, not written zeros (a
    // later block that reads lands at its own offset all the same).
    if (!CopyFileData(job, at, buffer.first(want), fileStart + result.written, put, limit, tally, file, false)) {
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

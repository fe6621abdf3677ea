#include "imaging/image_copy.h"

#include <array>
#include <cstring>

#include "imaging/direct_source.h"

namespace quorvel {

void ImageCopyResult::AddBadSector(uint64_t sector) {
  ++badSectorCount;
  if (!badRuns.empty() && badRuns.back().first + badRuns.back().count == sector) {
    ++badRuns.back().count;
    return;
  }
  badRuns.push_back({sector, 1});
}

std::vector<uint64_t> ImageCopyResult::BadSectors() const {
  std::vector<uint64_t> sectors;
  sectors.reserve(badSectorCount);
  for (const BadSectorRun& run : badRuns)
    for (uint64_t i = 0; i < run.count; ++i) sectors.push_back(run.first + i);
  return sectors;
}

bool CopySector(const ByteSource& source, ImageWriter& target, uint64_t p, uint64_t q, ImageCopyResult& result,
                CopyObserver* observer) {
  std::array<uint8_t, kImagingSectorBytes> sector;
  bool readable = source.ReadFull(p, sector);
  if (!readable) sector.fill(kUnreadableFiller);
  if (!WriteBlock(target, sector, q)) {
    result.writeFailed = true;
    result.writeError = target.LastError();
    return false;
  }
  ++result.sectorsWritten;
  if (readable) {
    ++result.sectorsCopied;
    if (observer) observer->Copied(p, kImagingSectorBytes);
  } else {
    result.AddBadSector(p / kImagingSectorBytes);
    if (observer) observer->BadSector(p / kImagingSectorBytes);
  }
  if (observer) observer->SectorsDone(result.sectorsWritten);
  return true;
}

namespace {

class Copier {
 public:
  Copier(const ByteSource& source, ImageWriter& target, const CopyPlan& plan, ScanProgress& progress,
         CopyObserver* observer)
      : source_(source), target_(target), plan_(plan), progress_(progress), observer_(observer) {}

  ImageCopyResult Run() {
    uint64_t blocks = 0;
    for (const CopyArea& area : plan_.areas) blocks += (area.length + kImagingBlockBytes - 1) / kImagingBlockBytes;
    progress_.Range(blocks, 1);
    progress_.BytesPerUnit(kImagingBlockBytes);
    buffer_ = AllocateAligned(kImagingBlockBytes);
    if (!buffer_) {
      result_.writeFailed = true;
      result_.writeError = "out of memory";
      return result_;
    }
    for (const CopyArea& area : plan_.areas)
      if (!CopyStretch(area)) break;
    if (!result_.writeFailed && !target_.Flush()) {
      result_.writeFailed = true;
      result_.writeError = target_.LastError();
    }
    return result_;
  }

 private:
  uint64_t TargetOf(uint64_t position) const { return plan_.targetStart + (position - plan_.sourceStart); }

  bool Stop() {
    if (progress_.StopRequested()) result_.stopped = true;
    return result_.stopped;
  }

  // Whole blocks, then the remainder; false when the copy must end.
  bool CopyStretch(const CopyArea& area) {
    uint64_t done = 0;
    while (done < area.length) {
      if (Stop()) return false;
      size_t piece = static_cast<size_t>(std::min<uint64_t>(kImagingBlockBytes, area.length - done));
      if (!CopyPiece(area.position + done, piece)) return false;
      done += piece;
      progress_.Step();
    }
    return true;
  }

  // One block (or the remainder): in one read when it can be read whole,
  // else from the first sector that did not arrive on, sector by sector.
  bool CopyPiece(uint64_t position, size_t length) {
    std::span<uint8_t> block(buffer_.get(), length);
    size_t got = source_.ReadAt(position, block);
    if (got == length) return WriteRead(block, position);
    // The sectors before the failure did arrive; the rest goes sector by
    // sector, so a bad sector costs no more failed reads than before.
    size_t good = got / kImagingSectorBytes * kImagingSectorBytes;
    if (good && !WriteRead(block.first(good), position)) return false;
    for (uint64_t offset = good; offset + kImagingSectorBytes <= length; offset += kImagingSectorBytes) {
      if (!CopySector(source_, target_, position + offset, TargetOf(position + offset), result_, observer_))
        return false;
      // The last sector of a piece is followed by the block check.
      if (offset + 2 * kImagingSectorBytes <= length && Stop()) return false;
    }
    return true;
  }

  // Writes bytes that were read intact.
  bool WriteRead(std::span<const uint8_t> bytes, uint64_t position) {
    if (!WriteBlock(target_, bytes, TargetOf(position))) {
      result_.writeFailed = true;
      result_.writeError = target_.LastError();
      return false;
    }
    uint64_t sectors = bytes.size() / kImagingSectorBytes;
    result_.sectorsWritten += sectors;
    result_.sectorsCopied += sectors;
    if (observer_) {
      observer_->Copied(position, bytes.size());
      observer_->SectorsDone(result_.sectorsWritten);
    }
    return true;
  }

  const ByteSource& source_;
  ImageWriter& target_;
  const CopyPlan& plan_;
  ScanProgress& progress_;
  CopyObserver* observer_;
  AlignedBuffer buffer_;
  ImageCopyResult result_;
};

}  // namespace

ImageCopyResult CopyImage(const ByteSource& source, ImageWriter& target, const CopyPlan& plan, ScanProgress& progress,
                          CopyObserver* observer) {
  return Copier(source, target, plan, progress, observer).Run();
}

}  // namespace quorvel

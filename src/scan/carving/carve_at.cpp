// CarveAt: the first signature that matches decides the type; its walk finds
// the file's end, and the file goes into the disk's map under its start sector.
#include "scan/carving/carve_at.h"

#include <algorithm>
#include <string>

#include "scan/carving/carvers.h"

namespace quorvel {

namespace {

struct Carver {
  SignatureTest matches;
  Walk walk;
};

// In this order: the first match decides.
constexpr Carver kCarvers[] = {
    {IsPdfStart, CarvePdf},
    {IsMpegStart, CarveMpeg},
    {IsAviStart, CarveAvi},
    {IsMp4Start, CarveMp4},
    {IsZipStart, CarveZip},
    {IsRarStart, CarveRar},
    {IsCompoundDocumentStart, CarveCompoundDocument},
    {IsJpegStart, CarveJpeg},
    {IsMp3Start, CarveMp3},
};

}  // namespace

uint8_t* CarveScratch::Search() {
  if (!search_) search_ = std::make_unique<SectorBuffer>(kCarveSearchBytes);
  return search_->size() == kCarveSearchBytes ? search_->data() : nullptr;
}

SearchBuffer::SearchBuffer(const CarveInput& input, uint64_t offset)
    : source_(input.source), offset_(offset), data_(input.scratch.Search()) {}

size_t SearchBuffer::Fill(size_t bytes) {
  bytes = std::min(bytes, kCarveSearchBytes);
  while (data_ && have_ < bytes) {
    // Whole sectors, in pieces that grow up to 1 MiB.
    const size_t piece = std::min(std::max(piece_, bytes - have_), kCarveSearchBytes - have_);
    source_.ReadAt(offset_ + have_, std::span<uint8_t>(data_ + have_, piece));
    have_ += piece;
    piece_ = std::min<size_t>(piece_ * 2, 1024 * 1024);
  }
  return data_ ? have_ : 0;
}

CarveResult CarveAt(DiskRecord& disk, const ByteSource& source, const uint8_t* head, uint64_t sector, uint64_t rangeEnd,
                    CarveScratch& scratch) {
  CarveResult result;
  if (!MayStartCarvedFile(head)) return result;
  const ByteView view(head, kCarveHeadBytes);
  const Carver* carver = nullptr;
  for (const Carver& c : kCarvers) {
    if (c.matches(view)) {
      carver = &c;
      break;
    }
  }
  if (!carver) return result;
  result.matched = true;
  CarveFinding finding = carver->walk(CarveInput{source, view, sector, scratch});
  // Nothing reaches past the scanned range: not a size taken from a header
  // that promises more than the disk holds, not a jump.
  const uint64_t room = rangeEnd > sector ? (rangeEnd - sector) * kDefaultSectorSize : 0;
  if (!finding.found) {
    result.carvedLength = std::min(finding.jump, room);
    return result;
  }
  const uint64_t size = std::min(finding.size, room);
  if (size == 0) return result;
  CarvedFile file;
  file.size = size;
  file.extension = finding.extension;
  file.name = (finding.stem.empty() ? std::to_string(sector) : finding.stem) +
              (finding.extension.empty() ? std::string() : "." + finding.extension);
  disk.carvedFiles.emplace(sector, std::move(file));
  result.added = true;
  result.carvedLength = size;
  return result;
}

}  // namespace quorvel

#pragma once
// The copy at the heart of imaging: 1 MiB blocks; a block that cannot be read
// whole is copied sector by sector, every unreadable sector is listed and
// written as 512 bytes of 0x20 so that each later sector keeps its place.
#include <cstdint>
#include <string>
#include <vector>

#include "core/scan_progress.h"
#include "imaging/image_writer.h"
#include "io/byte_source.h"

namespace quorvel {

constexpr uint64_t kImagingBlockBytes = 0x100000;
constexpr uint32_t kImagingSectorBytes = 512;
constexpr uint8_t kUnreadableFiller = 0x20;

// Bytes [position, position + length) of the source.
struct CopyArea {
  uint64_t position = 0;
  uint64_t length = 0;
};

struct CopyPlan {
  uint64_t sourceStart = 0;  // the source byte that lands on targetStart
  uint64_t targetStart = 0;
  // What to copy, in order, in whole sectors from sourceStart on: the whole
  // range, or the parts a mapfile does not mark as done.
  std::vector<CopyArea> areas;
};

// Bad sectors kept as runs, so a dead stretch of disk costs one entry.
struct BadSectorRun {
  uint64_t first = 0;
  uint64_t count = 0;
};

// Reports of a running copy, made on the copying thread.
class CopyObserver {
 public:
  virtual ~CopyObserver() = default;
  // Source bytes [position, position + length) were read and written intact.
  virtual void Copied(uint64_t /*position*/, uint64_t /*length*/) {}
  // Source sector `sector` (position / 512) could not be read; filler was written.
  virtual void BadSector(uint64_t /*sector*/) {}
  // Sectors written so far in this run, filler included.
  virtual void SectorsDone(uint64_t /*sectors*/) {}
};

struct ImageCopyResult {
  uint64_t sectorsWritten = 0;  // filler included
  uint64_t sectorsCopied = 0;   // read intact
  uint64_t badSectorCount = 0;
  std::vector<BadSectorRun> badRuns;  // in the order found
  bool stopped = false;
  bool writeFailed = false;
  std::string writeError;

  bool Complete() const { return !stopped && !writeFailed; }
  void AddBadSector(uint64_t sector);
  // Every bad sector number, in order (for lists of modest size).
  std::vector<uint64_t> BadSectors() const;
};

// Copies one sector from source position p to target position q. An
// unreadable sector is added to result and written as filler. False when the
// write fails (result then says why).
bool CopySector(const ByteSource& source, ImageWriter& target, uint64_t p, uint64_t q, ImageCopyResult& result,
                CopyObserver* observer);

// Runs the plan. The bar (progress) counts blocks, a last partial one
// included; the stop flag is honoured after each block, and after each
// sector of a block copied sector by sector. A failed write ends the copy.
// The target is flushed at the end; a flush error counts as a failed write.
ImageCopyResult CopyImage(const ByteSource& source, ImageWriter& target, const CopyPlan& plan, ScanProgress& progress,
                          CopyObserver* observer = nullptr);

}  // namespace quorvel

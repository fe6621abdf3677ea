#pragma once
// File-signature carving: decides whether a file of a known content type
// starts at a sector, follows the file's own structure to its end, and adds
// what it finds to the disk's CarvedFileMap ("Extra Found Files").
#include <cstdint>
#include <memory>

#include "io/byte_source.h"
#include "io/sector_buffer.h"
#include "model/disk_records.h"

namespace quorvel {

// The bytes CarveAt is handed: the sector and the one after it.
constexpr size_t kCarveHeadBytes = 1024;
// PDF and JPEG search one buffer of this size for their end marker.
constexpr size_t kCarveSearchBytes = 0xA00000;

// The 10 MiB search buffer, allocated on first use and reused by every call of
// one scan.
class CarveScratch {
 public:
  uint8_t* Search();  // null when it cannot be had

 private:
  std::unique_ptr<SectorBuffer> search_;
};

struct CarveResult {
  bool matched = false;  // a signature matched; the type decided even when it then found nothing
  bool added = false;    // a file was found (inserted, or its start sector was already taken)
  // Bytes the caller may skip from the sector on: the file found, or the
  // jump of an MPEG stream that ran past 2 GiB; 0 otherwise.
  uint64_t carvedLength = 0;
};

// head: kCarveHeadBytes bytes, the sector `sector` and the next, as the caller
// has them in memory. Reads beyond them go through source, whose offsets are
// sector × 512 in the same numbering (the disk, or a composite volume).
// rangeEnd is the first sector past the scanned range: no carved size reaches
// beyond it. A map entry already at `sector` is kept.
CarveResult CarveAt(DiskRecord& disk, const ByteSource& source, const uint8_t* head, uint64_t sector, uint64_t rangeEnd,
                    CarveScratch& scratch);

}  // namespace quorvel

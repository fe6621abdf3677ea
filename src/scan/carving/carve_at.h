#pragma once
// File-signature carving: decides whether a file of a known content type
// starts at a sector, follows the file's own structure to its end, and adds
// what it finds to the disk's CarvedFileMap ("Extra Found Files").
#include <array>
#include <cstdint>
#include <cstring>
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

// Every signature starts with one of these bytes, except MP4's, which has
// "ftyp" at 4: a sector that starts with none of them is no file's start.
// Checked first (CarveAt does too), it spares the nine tests on almost every
// sector of a disk. The first byte is looked up in a table: on random data a
// chain of comparisons would guess wrong at every other sector.
enum : uint8_t { kNoSignature = 0, kSignatureByte = 1, kMpegCandidate = 2 };
constexpr std::array<uint8_t, 256> kSignatureFirstBytes = [] {
  std::array<uint8_t, 256> table{};
  for (uint8_t b : {uint8_t{'%'},   // PDF
                    uint8_t{'R'},   // AVI, RAR
                    uint8_t{'P'},   // ZIP
                    uint8_t{0xD0},  // compound document
                    uint8_t{0xFF},  // JPEG, MP3 frame
                    uint8_t{'I'}})  // MP3 with an ID3 tag
    table[b] = kSignatureByte;
  table[0x00] = kMpegCandidate;  // an MPEG pack start code; zero sectors are common, so look further
  return table;
}();

inline bool MayStartCarvedFile(const uint8_t* head) {
  if (std::memcmp(head + 4, "ftyp", 4) == 0) return true;
  switch (kSignatureFirstBytes[head[0]]) {
    case kSignatureByte:
      return true;
    case kMpegCandidate:
      return head[1] == 0x00 && head[2] == 0x01 && head[3] == 0xBA;
    default:
      return false;
  }
}

// head: kCarveHeadBytes bytes, the sector `sector` and the next, as the caller
// has them in memory. Reads beyond them go through source, whose offsets are
// sector × 512 in the same numbering (the disk, or a composite volume).
// rangeEnd is the first sector past the scanned range: no carved size reaches
// beyond it. A map entry already at `sector` is kept.
CarveResult CarveAt(DiskRecord& disk, const ByteSource& source, const uint8_t* head, uint64_t sector, uint64_t rangeEnd,
                    CarveScratch& scratch);

}  // namespace quorvel

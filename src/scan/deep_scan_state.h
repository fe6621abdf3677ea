#pragma once
// The working state of one deep-scan run and the tests it applies to each
// sector (deep_scan_sector.cpp), the partitions it adds (deep_scan_found.cpp)
// and the post-pass over what it collected (deep_scan_post.cpp).
#include <cstdint>
#include <map>
#include <vector>

#include "io/byte_source.h"
#include "model/disk_records.h"
#include "scan/carving/carve_at.h"

namespace quorvel {

// Kinds that count as the same file system when duplicates are checked.
enum class FsFamily { kNtfs, kFat32, kFat16 };
bool InFsFamily(uint8_t fsKind, FsFamily family);

// The first sectors of two FAT copies seen one after the other: their
// distance is the FAT's length.
struct FatCopyTracker {
  bool hasFirst = false, hasSecond = false;
  uint64_t first = 0, second = 0;
  uint64_t length = 0;

  void Clear() { *this = FatCopyTracker(); }
  // A copy's first sector at `sector`. Copies further apart than `limit`
  // cannot be one FAT's two copies: the pairing starts again from this one.
  void Note(uint64_t sector, uint64_t limit);
  bool Paired() const { return hasFirst && hasSecond; }
};

// A $MFT record followed by $MFTMirr: the real MFT when record 5 follows as
// well (valid), else most likely the mirror.
struct MftSighting {
  uint64_t sector = 0;
  uint64_t mftCluster = 0;
  uint64_t mirrorCluster = 0;
  uint64_t mftClusters = 0;
};

// False for a sector in which no test of the deep scan can find anything: on
// random data, text or zeros, nearly every sector. It looks at the sector's
// own 512 bytes only; DeepScanner::TestSector starts with it, so testing only
// the sectors it lets through finds exactly what testing all of them finds.
bool SectorMayMatter(const uint8_t* sector);

class DeepScanner {
 public:
  DeepScanner(DiskRecord& disk, const ByteSource& source, uint64_t startSector, uint64_t sectorCount,
              bool addPartitions);

  // Tests the sector `number` (1024 bytes readable at `sector`: it and the
  // next); returns how many sectors the scan moves on (at least 1; more after
  // a carved file).
  uint64_t TestSector(const uint8_t* sector, uint64_t number);

  // After the last block, or a stop: partitions from the collected traces.
  void PostPass();

 private:
  // Step by step, in the order the sectors are tested.
  void NtfsBootSector(const uint8_t* sector, uint64_t number);
  void Fat32BootSector(const uint8_t* sector, uint64_t number);
  void Fat16BootSector(const uint8_t* sector, uint64_t number);
  void FileRecord(const uint8_t* record, uint64_t number);
  void NoteMftFragment(uint64_t number);
  void FatTests(const uint8_t* sector, uint64_t number);
  void RebuildFromSubfolder(const uint8_t* sector, uint64_t number);
  bool RecordAt(uint64_t number, uint8_t* record) const;

  // Post-pass steps.
  void PairDirectoryStarts();
  void PairMftSightings();

  // Adding partitions (deep_scan_found.cpp).
  // A partition of the family at start (or, with nearBackup, 6 sectors from
  // it) whose origin code is one of `origins` (bit 1 << origin) is listed.
  bool Listed(FsFamily family, uint64_t start, unsigned origins, bool nearBackup = false) const;
  PartitionRecord* Add(uint64_t start, uint64_t count, uint8_t fsKind, int32_t origin);
  void AddFatFromTraces(bool fat32, uint64_t start, uint32_t sectorsPerCluster, uint64_t fatSectors,
                        uint64_t dataOrigin);

  DiskRecord& disk_;
  const ByteSource& source_;
  const uint64_t start_;
  const uint64_t end_;  // first sector past the range
  const bool addPartitions_;
  CarveScratch scratch_;

  FatCopyTracker fat32_, fat16_;
  std::map<uint64_t, uint32_t> directoryStarts_;  // sector -> cluster of its "." entry
  std::vector<MftSighting> validSightings_, otherSightings_;
  bool fileRecordSeen_ = false;
  MftFragmentList::iterator fragment_;  // the fragment this run is extending
  bool haveFragment_ = false;
  uint8_t record_[1024] = {};
};

}  // namespace quorvel

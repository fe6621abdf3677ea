// After the sweep: FAT partitions from pairs of subfolder starts, NTFS
// partitions from an MFT seen next to its mirror, and the whole range as an
// NTFS partition when any file record was seen (listed through the MFT
// fragments).
#include <iterator>

#include "scan/deep_scan_state.h"

namespace quorvel {

namespace {

constexpr size_t kMostDirectoryPairs = 50;
constexpr uint64_t kLargestFatCluster = 128;    // sectors
constexpr uint64_t kLargestNtfsCluster = 4096;  // sectors (2 MiB clusters)
constexpr uint32_t kFat32Clusters = 0x10000;    // a cluster number this high is FAT32's
constexpr uint32_t kWholeRangeSectorsPerCluster = 8;

bool IsPowerOfTwoUpTo(uint64_t value, uint64_t largest) {
  return value >= 1 && value <= largest && (value & (value - 1)) == 0;
}

// Sectors per cluster and cluster 0's sector from two places where a known
// cluster starts: (sectorA, clusterA) and (sectorB, clusterB), B after A in
// both. False when they do not fit one cluster size up to `largest`.
bool SolveClusterGeometry(uint64_t sectorA, uint64_t clusterA, uint64_t sectorB, uint64_t clusterB, uint64_t largest,
                          uint64_t& spc, uint64_t& origin) {
  if (sectorB <= sectorA || clusterB <= clusterA) return false;
  const uint64_t sectors = sectorB - sectorA, clusters = clusterB - clusterA;
  if (sectors % clusters != 0) return false;
  spc = sectors / clusters;
  if (!IsPowerOfTwoUpTo(spc, largest) || clusterA > sectorA / spc) return false;
  origin = sectorA - spc * clusterA;
  return true;
}

}  // namespace

void DeepScanner::PostPass() {
  PairDirectoryStarts();
  PairMftSightings();
  if (fileRecordSeen_ && !Listed(FsFamily::kNtfs, start_, 1u << 1)) {
    if (PartitionRecord* p = Add(start_, end_ - start_, FsKind::kNtfs, 1))
      p->sectorsPerCluster = kWholeRangeSectorsPerCluster;
  }
}

void DeepScanner::PairDirectoryStarts() {
  const uint64_t diskSectors = disk_.sizeBytes / 512;
  size_t pairs = 0;
  for (auto a = directoryStarts_.begin(); a != directoryStarts_.end() && pairs < kMostDirectoryPairs; ++a, ++pairs) {
    const auto b = std::next(a);
    if (b == directoryStarts_.end()) break;
    if (a->second == b->second) continue;
    uint64_t spc, origin;
    if (!SolveClusterGeometry(a->first, a->second, b->first, b->second, kLargestFatCluster, spc, origin)) continue;
    if ((diskSectors != 0 && origin >= diskSectors) || origin >= end_) continue;
    const bool fat32 = a->second >= kFat32Clusters || b->second >= kFat32Clusters;
    const uint64_t count = end_ - origin;
    AddFatFromTraces(fat32, origin, static_cast<uint32_t>(spc), count / spc * (fat32 ? 4 : 2) / 512, origin);
  }
}

void DeepScanner::PairMftSightings() {
  for (const MftSighting& valid : validSightings_) {
    for (const MftSighting& other : otherSightings_) {
      if (valid.mftCluster != other.mftCluster || valid.mirrorCluster != other.mirrorCluster ||
          valid.mftClusters != other.mftClusters)
        continue;
      // The MFT lies at start + spc × its cluster, the mirror at start + spc
      // × the mirror's cluster; either may come first.
      uint64_t spc, start;
      const bool mftFirst = valid.sector < other.sector;
      const bool solved = mftFirst ? SolveClusterGeometry(valid.sector, valid.mftCluster, other.sector,
                                                          valid.mirrorCluster, kLargestNtfsCluster, spc, start)
                                   : SolveClusterGeometry(other.sector, valid.mirrorCluster, valid.sector,
                                                          valid.mftCluster, kLargestNtfsCluster, spc, start);
      if (!solved || start >= end_ || Listed(FsFamily::kNtfs, start, 1u << 1)) continue;
      if (PartitionRecord* p = Add(start, end_ - start, FsKind::kNtfs, 1)) {
        p->sectorsPerCluster = static_cast<uint32_t>(spc);
        p->ntfs.mftStartSector = valid.sector;
      }
    }
  }
}

}  // namespace quorvel

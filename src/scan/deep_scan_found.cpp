// The partitions a deep scan adds, and the duplicates it leaves out.
#include <algorithm>

#include "core/scan_progress.h"
#include "scan/deep_scan_state.h"

namespace quorvel {

bool InFsFamily(uint8_t fsKind, FsFamily family) {
  switch (family) {
    case FsFamily::kNtfs:
      return IsNtfsKind(fsKind);
    case FsFamily::kFat32:
      return IsFat32Kind(fsKind);
    case FsFamily::kFat16:
      return IsFat16Kind(fsKind);
  }
  return false;
}

bool DeepScanner::Listed(FsFamily family, uint64_t start, unsigned origins, bool nearBackup) const {
  for (const PartitionRecord& p : disk_.partitions) {
    if (!InFsFamily(p.fsKind, family)) continue;
    if (p.originCode < 0 || p.originCode > 2 || !(origins & (1u << p.originCode))) continue;
    if (p.startSector == start) return true;
    if (nearBackup && (p.startSector + 6 == start || start + 6 == p.startSector)) return true;
  }
  return false;
}

PartitionRecord* DeepScanner::Add(uint64_t start, uint64_t count, uint8_t fsKind, int32_t origin) {
  if (!addPartitions_ || count == 0) return nullptr;
  PartitionRecord p;
  // Numbered on from the partitions already listed.
  p.name = FormatText("Partition%zu", disk_.partitions.size());
  p.startSector = start;
  p.sectorCount = count;
  p.fsKind = fsKind;
  p.originCode = origin;
  disk_.partitions.push_back(std::move(p));
  return &disk_.partitions.back();
}

void DeepScanner::AddFatFromTraces(bool fat32, uint64_t start, uint32_t sectorsPerCluster, uint64_t fatSectors,
                                   uint64_t dataOrigin) {
  if (start >= end_ || Listed(fat32 ? FsFamily::kFat32 : FsFamily::kFat16, start, 0b111)) return;
  // Everything from the partition's start to the end of the scanned range.
  PartitionRecord* p = Add(start, end_ - start, fat32 ? FsKind::kFat32 : FsKind::kFat16, 1);
  if (!p) return;
  p->sectorsPerCluster = sectorsPerCluster;
  p->fat.sizeSectors = static_cast<uint32_t>(std::min<uint64_t>(fatSectors, UINT32_MAX));
  p->dataOrigin = dataOrigin;
}

}  // namespace quorvel

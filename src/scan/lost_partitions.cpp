// The lost-partition scan's entry point and the rule by which found volumes
// join the disk's partition list.
#include "scan/lost_partitions.h"

#include <algorithm>
#include <set>

#include "io/volume_source.h"
#include "scan/lost_partition_search.h"

namespace quorvel {

namespace {

int Family(uint8_t kind) {
  if (IsNtfsKind(kind)) return 1;
  if (IsFat32Kind(kind)) return 2;
  if (IsFat16Kind(kind)) return 3;
  return 0;
}

// "Partition%d" after the partitions listed; should a record from elsewhere
// (a scan-result file, a volume manager) already carry that name, the next
// free number, so that every found volume stays reachable by its name.
std::string FreePartitionName(const DiskRecord& disk) {
  std::set<std::string> taken;
  for (const PartitionRecord& p : disk.partitions) taken.insert(p.name);
  for (size_t n = disk.partitions.size();; ++n) {
    std::string name = FormatText("Partition%zu", n);
    if (!taken.count(name)) return name;
  }
}

}  // namespace

bool SameFsFamily(uint8_t a, uint8_t b) { return a == b || (Family(a) != 0 && Family(a) == Family(b)); }

bool ListsPartition(const DiskRecord& disk, uint64_t start, uint8_t fsKind) {
  for (const PartitionRecord& p : disk.partitions) {
    // Composite volumes count from their own sector 0; they cannot collide.
    if (p.volumeKind != kPlainVolume) continue;
    if (p.startSector == start && SameFsFamily(p.fsKind, fsKind)) return true;
  }
  return false;
}

PartitionRecord* AddFoundPartition(DiskRecord& disk, PartitionRecord record) {
  if (ListsPartition(disk, record.startSector, record.fsKind)) return nullptr;
  record.name = FreePartitionName(disk);
  record.originCode = 2;
  disk.partitions.push_back(std::move(record));
  return &disk.partitions.back();
}

int CountFoundPartitions(const DiskRecord& disk) {
  int count = 0;
  for (const PartitionRecord& p : disk.partitions)
    if (p.originCode != 0) ++count;
  return count;
}

std::string FoundPartitionCountText(int count) {
  if (count == 0) return "正在扫描，请稍等...";
  return FormatText("已经找到%d个分区,继续扫描,稍等...", count);
}

bool ScanLostPartitions(DiskRecord& disk, LostScanMode mode, uint32_t tracksPerCylinder, ScanProgress& progress,
                        LostScanReport* report) {
  LostScanReport local;
  LostScanReport& out = report ? *report : local;
  std::unique_ptr<ByteSource> source = OpenDiskSource(disk, &out.error);
  if (!source) return false;
  LostSearch search{disk, *source, progress, out};
  // Every pass ends where the source does, whatever size the record says.
  uint64_t sizeBytes = disk.sizeBytes ? disk.sizeBytes : source->Size();
  if (source->Size()) sizeBytes = std::min(sizeBytes, source->Size());
  search.diskSectors = sizeBytes / kDefaultSectorSize;

  ForwardChainSearch(search);
  if (!search.Stopped()) BackwardChainSearch(search);
  if (!search.Stopped()) DefaultMftProbeSearch(search);
  bool finished = true;
  if (!search.Stopped()) {
    if (mode == kPreciseLostScan)
      finished = PrecisePass(search);
    else
      QuickPass(search, tracksPerCylinder);
  }
  out.stopped = search.Stopped();
  // A stopped quick pass still counts as done; a stopped precise pass does not.
  if (out.stopped && mode == kPreciseLostScan) finished = false;
  return finished;
}

}  // namespace quorvel

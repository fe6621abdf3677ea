// The NTFS record sweep: every record the MFT still holds, in use or deleted,
// placed into the tree by its parent reference.
#include "fs/ntfs/mft_scan.h"

#include <algorithm>
#include <vector>

#include "core/byte_order.h"
#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_placement.h"
#include "fs/ntfs/mft_record.h"
#include "io/sector_device.h"

namespace quorvel {

namespace {

constexpr uint32_t kBlockSectors = 20480;  // 10 MiB per read

std::string SourcePath(const PartitionRecord& partition, const DiskRecord& disk) {
  return partition.devicePath.empty() ? disk.devicePath : partition.devicePath;
}

// Byte 0x0D of the boot sector: sectors per cluster, or for clusters above
// 64 KiB the negated power of two.
uint32_t SectorsPerClusterFromBoot(uint8_t value) {
  if (value <= 0x80) return value;
  unsigned shift = 256u - value;
  return shift < 24 ? 1u << shift : 0;
}

// Geometry from the boot sector, or from its backup in the last sector.
void ReadNtfsGeometry(SectorDevice* device, PartitionRecord& partition) {
  uint8_t boot[kSectorSize] = {};
  ReadVolumeBytes(partition, device, 0, boot, sizeof boot);
  bool found = IsNtfsBootSector(boot);
  if (!found && partition.sectorCount > 0) {
    ReadVolumeBytes(partition, device, partition.sectorCount - 1, boot, sizeof boot);
    found = IsNtfsBootSector(boot);
  }
  partition.bytesPerSector = found ? LoadLe16(boot + 0x0B) : kSectorSize;
  if (!found) return;
  uint32_t spc = SectorsPerClusterFromBoot(boot[0x0D]);
  if (spc == 0) return;  // a boot sector that passes the test but names no cluster size
  partition.sectorsPerCluster = spc;
  partition.ntfs.mftStartSector = partition.startSector + uint64_t{spc} * LoadLe64(boot + 0x30);
  partition.ntfs.clustersPerIndexRecord = LoadLe32(boot + 0x44);
}

// Clusters of the partition; 0 when its size is unknown.
uint64_t PartitionClusters(const PartitionRecord& partition) {
  return partition.sectorsPerCluster ? partition.sectorCount / partition.sectorsPerCluster : 0;
}

// $MFT's runs as record 0 gives them, cut to the partition so a lying
// record 0 cannot send the sweep past its end.
std::vector<MftRun> MftRunsOfRecordZero(SectorDevice* device, const PartitionRecord& partition,
                                        const std::vector<MftRun>& known) {
  std::vector<MftRun> runs;
  RecordDetails mft;
  if (!ReadMftRecord(device, 0, mft, partition, known, kMainRecord)) return runs;
  const uint64_t clusters = PartitionClusters(partition);
  for (const DataRun& run : mft.dataRuns) {
    if (run.sparse || run.clusterCount == 0) continue;
    MftRun mftRun{run.startCluster, run.clusterCount};
    if (clusters) {
      if (mftRun.startCluster >= clusters) continue;
      mftRun.clusterCount = std::min(mftRun.clusterCount, clusters - mftRun.startCluster);
    }
    runs.push_back(mftRun);
  }
  return runs;
}

void ReadMftRuns(SectorDevice* device, PartitionRecord& partition) {
  partition.ntfs.mftRuns.clear();
  if (partition.ntfs.mftStartSector < partition.startSector) return;
  std::vector<MftRun> runs = MftRunsOfRecordZero(device, partition, {});
  // A $MFT whose run list continues in an extension record lying beyond its
  // first run is only complete when read again through the runs found.
  if (!runs.empty()) {
    std::vector<MftRun> again = MftRunsOfRecordZero(device, partition, runs);
    if (again.size() > runs.size()) runs = std::move(again);
  }
  partition.ntfs.mftRuns = std::move(runs);
}

// A quick format writes a small new MFT over the start of the old one; the
// old records after it still pass the record test. Counts the clusters after
// the single run whose first record is valid.
bool ExtendSingleRun(ScanProgress& progress, SectorDevice* device, PartitionRecord& partition) {
  const MftRun run = partition.ntfs.mftRuns.front();
  const uint64_t clusters = PartitionClusters(partition);
  const uint64_t first = run.startCluster + run.clusterCount;
  uint64_t count = 0;
  uint8_t record[kMftRecordSize];
  while (!clusters || first + count < clusters) {
    if ((count & 255) == 0 && progress.StopRequested()) return false;
    ReadVolumeBytes(partition, device, (first + count) * partition.sectorsPerCluster, record, sizeof record);
    if (!FixUpFileRecord(record)) break;
    ++count;
  }
  if (count > 0) partition.ntfs.mftRuns.push_back({first, count});
  return true;
}

}  // namespace

bool ScanMftRecords(ScanProgress& progress, PartitionRecord& partition, DiskRecord& disk) {
  SectorDevice device;
  if (!OpenPartitionDevice(partition, SourcePath(partition, disk), device)) return false;
  SectorDevice* source = device.IsOpen() ? &device : nullptr;
  ReadNtfsGeometry(source, partition);

  // Stretches of MFT the deep scan found inside this partition take over.
  const uint64_t end = partition.startSector + partition.sectorCount;
  for (auto it = disk.mftFragments.cbegin(); it != disk.mftFragments.cend(); ++it) {
    if (it->startSector <= partition.startSector) continue;
    if (it->startSector >= end) break;
    device.Close();
    return ScanMftFragments(progress, disk, partition, disk.mftFragments, it);
  }

  ReadMftRuns(source, partition);
  if (partition.ntfs.mftRuns.empty()) {
    if (partition.ntfs.mftStartSector == 0 || partition.ntfs.mftStartSector < partition.startSector ||
        partition.sectorsPerCluster == 0)
      return false;
    // Record 0 is gone: sweep from the boot sector's MFT start for as long as
    // records follow.
    partition.ntfs.mftRuns.push_back(
        {(partition.ntfs.mftStartSector - partition.startSector) / partition.sectorsPerCluster, 0});
  }
  if (partition.ntfs.mftRuns.size() == 1) {
    progress.Step();
    if (!ExtendSingleRun(progress, source, partition)) return false;
  }
  std::erase_if(partition.ntfs.mftRuns, [](const MftRun& run) { return run.clusterCount == 0; });

  MftTreeBuilder builder(*partition.tree);
  builder.ResetSpecialFolders(false);
  uint64_t totalRecords = 0;
  for (const MftRun& run : partition.ntfs.mftRuns) totalRecords += partition.sectorsPerCluster * run.clusterCount / 2;
  builder.Reserve(static_cast<size_t>(std::min<uint64_t>(totalRecords, 1u << 24)));
  progress.SetText("");
  progress.Range(totalRecords, 1);

  std::vector<uint8_t> block(size_t{kBlockSectors} * kSectorSize);
  uint64_t index = 0;  // the record's place in the MFT: its number in the older layout
  uint64_t examined = 0;
  for (const MftRun& run : partition.ntfs.mftRuns) {
    const uint64_t sectors = uint64_t{partition.sectorsPerCluster} * run.clusterCount;
    const uint64_t runSector = run.startCluster * partition.sectorsPerCluster;
    for (uint64_t offset = 0; offset + 1 < sectors; offset += kBlockSectors) {
      const uint64_t length = std::min<uint64_t>(kBlockSectors, sectors - offset);
      ReadVolumeBytes(partition, source, runSector + offset, block.data(), length * kSectorSize);
      for (uint64_t s = 0; s + 2 <= length; s += 2, ++index) {
        progress.Step();
        if (progress.StopRequested()) return false;
        progress.SetText(FormatText("%llu 项被找到", static_cast<unsigned long long>(++examined)));
        uint8_t* record = block.data() + s * kSectorSize;
        if (!FixUpFileRecord(record)) continue;
        const uint64_t number = LoadLe16(record + 4) == 0x2A ? index : LoadLe32(record + 0x2C);
        if (partition.tree->skipSet.count(number)) continue;  // already placed as an ancestor
        RecordDetails details;
        if (!DecodeMftRecord(record, number, details, source, partition, partition.ntfs.mftRuns, kMainRecord)) continue;
        if (number == 5) {
          // The root is not listed as an entry of its own, but shows its times.
          NtfsFileEntry& root = partition.tree->ntfsRoot;
          root.creationTime = details.creationTime;
          root.modificationTime = details.modificationTime;
          root.accessTime = details.accessTime;
        }
        if (!IsListedRecord(details)) continue;
        PlaceSweptEntry(source, PendingEntryFromDetails(details), builder, partition);
      }
    }
  }
  return true;
}

}  // namespace quorvel

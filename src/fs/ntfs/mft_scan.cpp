// The NTFS record sweep: every record the MFT still holds, in use or deleted,
// placed into the tree by its parent reference.
#include "fs/ntfs/mft_scan.h"

#include <algorithm>
#include <vector>

#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_placement.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "fs/ntfs/ntfs_boot_sector_layout.h"
#include "io/careful_read.h"
#include "io/sector_buffer.h"
#include "io/volume_source.h"

namespace quorvel {

namespace {

// 1 MiB per read: records are decoded while still in the processor's cache,
// and a 10 MiB buffer would cost the memory of 40,000 listed entries. A
// multiple of every record size (up to 64 KiB) and sector size.
constexpr size_t kBlockBytes = size_t{1} << 20;
constexpr uint64_t kRecordsPerReport = 1024;

// Geometry from the boot sector, or from its backup in the last sector. The
// boot sector lies at the partition's first sector of the source.
void ReadNtfsGeometry(const ByteSource& source, PartitionRecord& partition) {
  const uint64_t sourceSector = source.SectorSize();
  uint8_t bytes[BootSector::kSize] = {};
  ReadSectors(source, partition.startSector, sourceSector, bytes);
  bool found = IsNtfsBootSectorOfAnySectorSize(bytes);
  if (!found && partition.sectorCount > 0) {
    ReadSectors(source, partition.startSector + partition.sectorCount - 1, sourceSector, bytes);
    found = IsNtfsBootSectorOfAnySectorSize(bytes);
  }
  const ByteView boot(bytes);
  partition.bytesPerSector = found ? boot.Le16(BootSector::kBytesPerSector) : kDefaultSectorSize;
  if (!found) return;
  const uint32_t spc = NtfsSectorsPerCluster(boot);
  if (spc == 0) return;  // a boot sector that passes the test but names no cluster size
  partition.sectorsPerCluster = spc;
  partition.ntfs.mftStartSector = partition.startSector + uint64_t{spc} * boot.Le64(NtfsBoot::kMftCluster);
  partition.ntfs.clustersPerIndexRecord = boot.Le32(NtfsBoot::kClustersPerIndexRecord);
  // A record size the boot sector does not name usably stays at the default.
  const uint32_t recordSize = NtfsFileRecordSize(boot, partition.bytesPerSector, spc);
  partition.ntfs.recordSize = recordSize ? recordSize : static_cast<uint32_t>(kMftRecordSize);
}

// Clusters of the partition that the source holds: a boot sector (or a
// table entry) may claim far more than the disk or image has, and nothing
// past the source's end is read. 0 when the size is unknown.
uint64_t PartitionClusters(const ByteSource& source, const PartitionRecord& partition) {
  if (!partition.sectorsPerCluster) return 0;
  uint64_t sectors = partition.sectorCount;
  const uint64_t sourceSectors = source.Size() / NtfsSectorBytes(partition);
  if (source.Size())
    sectors = std::min(sectors ? sectors : UINT64_MAX,
                       sourceSectors > partition.startSector ? sourceSectors - partition.startSector : 0);
  return sectors / partition.sectorsPerCluster;
}

// $MFT's runs as record 0 gives them, cut to the partition so a lying
// record 0 cannot send the sweep past its end.
std::vector<MftRun> MftRunsOfRecordZero(const ByteSource& source, const PartitionRecord& partition,
                                        const std::vector<MftRun>& known) {
  std::vector<MftRun> runs;
  RecordDetails mft;
  if (!ReadMftRecord(source, 0, mft, partition, known, kMainRecord)) return runs;
  const uint64_t clusters = PartitionClusters(source, partition);
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

void ReadMftRuns(const ByteSource& source, PartitionRecord& partition) {
  partition.ntfs.mftRuns.clear();
  if (partition.ntfs.mftStartSector < partition.startSector) return;
  std::vector<MftRun> runs = MftRunsOfRecordZero(source, partition, {});
  // A $MFT whose run list continues in an extension record lying beyond its
  // first run is only complete when read again through the runs found.
  if (!runs.empty()) {
    std::vector<MftRun> again = MftRunsOfRecordZero(source, partition, runs);
    if (again.size() > runs.size()) runs = std::move(again);
  }
  partition.ntfs.mftRuns = std::move(runs);
}

// A quick format writes a small new MFT over the start of the old one; the
// old records after it still pass the record test. Counts the clusters after
// the single run whose first record is valid.
bool ExtendSingleRun(ScanProgress& progress, const ByteSource& source, PartitionRecord& partition) {
  const MftRun run = partition.ntfs.mftRuns.front();
  const uint64_t clusters = PartitionClusters(source, partition);
  const uint64_t first = run.startCluster + run.clusterCount;
  uint64_t count = 0;
  std::vector<uint8_t> record(MftRecordBytes(partition));
  while (!clusters || first + count < clusters) {
    if ((count & 255) == 0 && progress.StopRequested()) return false;
    ReadSectors(source, partition.startSector + (first + count) * partition.sectorsPerCluster,
                NtfsSectorBytes(partition), record);
    if (!FixUpFileRecord(record)) break;
    ++count;
  }
  if (count > 0) partition.ntfs.mftRuns.push_back({first, count});
  return true;
}

}  // namespace

bool ScanMftRecords(ScanProgress& progress, PartitionRecord& partition, DiskRecord& disk) {
  std::unique_ptr<ByteSource> source = OpenPartitionSource(disk, partition);
  if (!source) return false;
  return ScanMftRecords(*source, progress, partition, disk);
}

bool ScanMftRecords(const ByteSource& source, ScanProgress& progress, PartitionRecord& partition, DiskRecord& disk) {
  ReadNtfsGeometry(source, partition);

  // Stretches of MFT the deep scan found inside this partition take over.
  const uint64_t end = partition.startSector + partition.sectorCount;
  for (auto it = disk.mftFragments.cbegin(); it != disk.mftFragments.cend(); ++it) {
    if (it->startSector <= partition.startSector) continue;
    if (it->startSector >= end) break;
    return ScanMftFragments(source, progress, partition, disk.mftFragments, it);
  }

  ReadMftRuns(source, partition);
  if (partition.ntfs.mftRuns.empty()) {
    if (partition.ntfs.mftStartSector == 0 || partition.ntfs.mftStartSector < partition.startSector ||
        partition.sectorsPerCluster == 0 ||
        (partition.ntfs.mftStartSector - partition.startSector) / partition.sectorsPerCluster >=
            PartitionClusters(source, partition))
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

  const uint64_t bytesPerSector = NtfsSectorBytes(partition);
  const size_t recordBytes = MftRecordBytes(partition);
  const uint64_t clusterBytes = uint64_t{partition.sectorsPerCluster} * bytesPerSector;
  MftTreeBuilder builder(*partition.tree);
  builder.ResetSpecialFolders(false);
  uint64_t totalRecords = 0;
  for (const MftRun& run : partition.ntfs.mftRuns) totalRecords += clusterBytes * run.clusterCount / recordBytes;
  progress.SetText("");
  progress.Range(totalRecords, 1);
  progress.BytesPerUnit(recordBytes);

  SectorBuffer buffer(kBlockBytes);
  if (buffer.size() == 0) return false;
  const std::span<uint8_t> block(buffer.data(), buffer.size());
  const uint64_t limit = PartitionReadLimit(source, partition.startSector, partition.sectorCount, bytesPerSector);
  std::vector<ReadGap> gaps;
  uint64_t index = 0;  // the record's place in the MFT: its number in the older layout
  uint64_t examined = 0;
  // Formatting the text and reaching the sink's lock for every record cost
  // more than reading it: the display moves every 1,024 records.
  const auto report = [&progress, &index, &examined] {
    progress.Pos(index);
    progress.SetText(FormatText("%llu 项被找到", static_cast<unsigned long long>(examined)));
  };
  for (const MftRun& run : partition.ntfs.mftRuns) {
    const uint64_t runBytes = clusterBytes * run.clusterCount;
    const uint64_t runStart = (partition.startSector + run.startCluster * partition.sectorsPerCluster) * bytesPerSector;
    for (uint64_t offset = 0; offset + recordBytes <= runBytes; offset += kBlockBytes) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, runBytes - offset));
      // A failing sector costs the records it holds, not the rest of the block.
      gaps.clear();
      ReadCarefully(source, runStart + offset, block.first(length), length, limit, bytesPerSector, &gaps);
      auto gap = gaps.begin();
      for (size_t at = 0; at + recordBytes <= length; at += recordBytes, ++index) {
        if (progress.StopRequested()) return false;
        if (++examined % kRecordsPerReport == 0) report();
        while (gap != gaps.end() && gap->offset + gap->length <= at) ++gap;
        if (gap != gaps.end() && gap->offset < at + recordBytes) {
          ++partition.ntfs.unreadableRecords;  // some of its bytes did not arrive
          continue;
        }
        const std::span<uint8_t> record = block.subspan(at, recordBytes);
        if (!FixUpFileRecord(record)) continue;
        const ByteView view(record);
        const uint64_t number = view.Le16(MftRecord::kUpdateSequenceOffset) == MftRecord::kOlderLayoutUsaOffset
                                    ? index
                                    : view.Le32(MftRecord::kRecordNumber);
        if (partition.tree->skipSet.count(number)) continue;  // already placed as an ancestor
        RecordDetails details;
        if (!DecodeMftRecord(view, number, details, source, partition, partition.ntfs.mftRuns, kMainRecord)) continue;
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
  report();
  return true;
}

}  // namespace quorvel

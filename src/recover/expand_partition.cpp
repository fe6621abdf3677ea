// Expanding a partition: pick the reader by file-system kind and run it.
#include "recover/expand_partition.h"

#include "fs/ntfs/mft_scan.h"
#include "io/volume_source.h"
#include "recover/format_info_scan.h"

namespace quorvel {

ExpansionMode ExpansionModeForFsKind(uint8_t fsKind) {
  switch (fsKind) {
    case 0x0B:
    case 0x0C:
      return kExpandFat32;
    case 0x07:
    case 0x0D:
      return kExpandNtfs;
    case 0x06:
    case 0x0E:
    case 0x04:
      return kExpandFat16;
    default:
      return kNoReader;
  }
}

void EmptyPartitionTree(PartitionRecord& partition) {
  ClearFileTree(*partition.tree);
  // The cached FAT goes with the tree; its geometry stays for the next run.
  partition.fat.table.clear();
  partition.fat.table.shrink_to_fit();
  partition.fat.unreadableBytes = 0;
  partition.ntfs.unreadableRecords = 0;
  partition.ntfs.mftRuns.clear();
  partition.ntfs.recordSectors.clear();
  partition.ntfs.extraRecordSectors.clear();
}

bool BeginPartitionRead(PartitionRecord& partition, ExpansionMode& mode, std::string& error) {
  error.clear();
  mode = ExpansionModeForFsKind(partition.fsKind);
  if (mode == kNoReader) {
    error = NoReaderMessage(partition);
    return false;
  }
  EmptyPartitionTree(partition);
  return true;
}

namespace {

const char* const kMftUnreadable = "无法读取该分区的 MFT 记录";

}  // namespace

std::unique_ptr<ByteSource> OpenPartitionForRead(const DiskRecord& disk, const PartitionRecord& partition,
                                                 ExpansionMode mode, std::string& error) {
  std::unique_ptr<ByteSource> source = OpenPartitionSource(disk, partition);
  if (!source) error = mode == kExpandNtfs ? std::string(kMftUnreadable) : "无法打开设备 " + disk.devicePath;
  return source;
}

bool ListNtfsPartition(const ByteSource& source, DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress,
                       std::string& error) {
  bool ran = ScanMftRecords(source, progress, partition, disk);
  if (!ran && !progress.StopRequested()) error = kMftUnreadable;
  return ran && !progress.StopRequested();
}

bool ReportFatOutcome(FatVolumeOutcome outcome, const DiskRecord& disk, const ScanProgress& progress,
                      std::string& error) {
  switch (outcome) {
    case FatVolumeOutcome::kListed:
    case FatVolumeOutcome::kRebuilt:
      return !progress.StopRequested();
    case FatVolumeOutcome::kStopped:
      return false;
    case FatVolumeOutcome::kCannotOpen:
      error = "无法打开设备 " + disk.devicePath;
      return false;
    case FatVolumeOutcome::kNoGeometry:
      error = "找不到可用的 FAT 结构 (引导扇区损坏且搜索不到 FAT 表)";
      return false;
  }
  return false;
}

bool ExpandPartition(const ByteSource& source, DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress,
                     std::string& error, RecordedSectors recorded) {
  ExpansionMode mode;
  if (!BeginPartitionRead(partition, mode, error)) return false;
  if (mode == kExpandNtfs) return ListNtfsPartition(source, disk, partition, progress, error);
  return ReportFatOutcome(ReadFatVolume(source, partition, disk, progress, mode == kExpandFat32, recorded), disk,
                          progress, error);
}

bool ExpandPartition(DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress, std::string& error,
                     RecordedSectors recorded) {
  ExpansionMode mode;
  if (!BeginPartitionRead(partition, mode, error)) return false;
  std::unique_ptr<ByteSource> source = OpenPartitionForRead(disk, partition, mode, error);
  return source && ExpandPartition(*source, disk, partition, progress, error, recorded);
}

}  // namespace quorvel

// Format recovery of one partition, on the calling thread.
#include "recover/format_info_scan.h"

#include "fs/fat/fat_directory_sweep.h"
#include "fs/fat/fat_volume.h"
#include "io/volume_source.h"
#include "model/partition_texts.h"
#include "recover/expand_partition.h"

namespace quorvel {

std::string NoReaderMessage(const PartitionRecord& partition) {
  if (ExpansionModeForFsKind(partition.fsKind) != kNoReader) return std::string();
  std::string kind = PartitionTypeText(partition);
  if (kind.empty()) kind = FormatText("类型 0x%02X", partition.fsKind);
  // Running another file system's reader here would only list garbage.
  return "无法读取该分区: 文件系统 " + kind + " 不受支持 (只能读取 FAT16、FAT32 和 NTFS)";
}

size_t CountDirectorySectors(const DiskRecord& disk, uint64_t startSector, uint64_t sectorCount) {
  auto first = disk.directorySectors.lower_bound(startSector);
  auto last = disk.directorySectors.upper_bound(startSector + sectorCount);
  return static_cast<size_t>(std::distance(first, last));
}

bool ScanFormatInfo(DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress, std::string& error) {
  ExpansionMode mode;
  if (!BeginPartitionRead(partition, mode, error)) return false;
  // The sweep and the rebuild both read what the partition's sectors count in.
  std::unique_ptr<ByteSource> source = OpenPartitionForRead(disk, partition, mode, error);
  return source && ScanFormatInfo(*source, disk, partition, progress, error);
}

bool ScanFormatInfo(const ByteSource& source, DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress,
                    std::string& error) {
  ExpansionMode mode;
  if (!BeginPartitionRead(partition, mode, error)) return false;
  if (mode == kExpandNtfs) return ListNtfsPartition(source, disk, partition, progress, error);
  if (!ScanDirectorySectors(source, disk, progress, partition.startSector, partition.sectorCount)) {
    error = "无法打开设备 " + disk.devicePath;
    return false;
  }
  // The rebuild reads one cluster per recorded folder: it runs after a stop
  // of the sweep too, so what was recorded is shown, and can be stopped again.
  const bool sweepStopped = progress.StopRequested();
  progress.stopFlag.store(0);
  const bool rebuilt = ReportFatOutcome(
      ReadFatVolume(source, partition, disk, progress, mode == kExpandFat32, RecordedSectors::kRebuild), disk, progress,
      error);
  if (sweepStopped) progress.RequestStop();
  return rebuilt && !sweepStopped;
}

}  // namespace quorvel

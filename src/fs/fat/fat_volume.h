#pragma once
// Opening a FAT32 or FAT16 partition: geometry, the in-memory FAT, and the
// directory walk (or the rebuild from recorded directory sectors).
#include "core/scan_progress.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

void ReadFat32Volume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress);
void ReadFat16Volume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress);

// How a FAT run ended, for callers that report failures.
enum class FatVolumeOutcome {
  kListed,      // read through the FAT (or rebuilt from traces)
  kRebuilt,     // rebuilt from recorded directory sectors
  kStopped,     // the stop flag ended the run; what was found stays
  kCannotOpen,  // the device could not be opened
  kNoGeometry,  // no usable boot sector and the search found nothing sane
};
// Whether the directory sectors a sweep recorded inside the partition
// (format recovery, deep scan, a loaded scan-result file) replace the tree
// the volume's own FAT gives.
enum class RecordedSectors {
  kKeepLiveTree,  // the volume as it stands; only a volume with no FAT left is rebuilt
  kRebuild,       // the recovered view: each recorded folder becomes a numbered folder
};

// Opens the partition (io/volume_source.h) and reads it.
FatVolumeOutcome ReadFatVolume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress, bool fat32,
                               RecordedSectors recorded = RecordedSectors::kKeepLiveTree);
// The same on an opened source: what the partition's sectors count in.
FatVolumeOutcome ReadFatVolume(const ByteSource& source, PartitionRecord& partition, DiskRecord& disk,
                               ScanProgress& progress, bool fat32,
                               RecordedSectors recorded = RecordedSectors::kKeepLiveTree);

}  // namespace quorvel

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
// Opens the partition (io/volume_source.h) and reads it.
FatVolumeOutcome ReadFatVolume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress, bool fat32);
// The same on an opened source: what the partition's sectors count in.
FatVolumeOutcome ReadFatVolume(const ByteSource& source, PartitionRecord& partition, DiskRecord& disk,
                               ScanProgress& progress, bool fat32);

}  // namespace quorvel

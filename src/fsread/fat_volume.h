#pragma once
// Opening a FAT32 or FAT16 partition: geometry, the in-memory FAT, and the
// directory walk (or the rebuild from recorded directory sectors).
#include "core/scan_progress.h"
#include "disk/disk_records.h"

namespace quorvel {

void ReadFat32Volume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress);
void ReadFat16Volume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress);

}  // namespace quorvel

#pragma once
// Listing an NTFS partition from its MFT records (in use and deleted), and
// rebuilding the folder tree from their parent references.
#include "core/scan_progress.h"
#include "disk/disk_records.h"

namespace quorvel {

bool ScanMftRecords(ScanProgress& progress, PartitionRecord& partition, DiskRecord& disk);

}  // namespace quorvel

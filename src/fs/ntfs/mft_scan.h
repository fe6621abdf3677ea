#pragma once
// Listing an NTFS partition from its MFT records (in use and deleted), and
// rebuilding the folder tree from their parent references.
#include "core/scan_progress.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// Opens the partition (io/volume_source.h) and lists it; false when it cannot
// be opened or its MFT cannot be found, or on a stop.
bool ScanMftRecords(ScanProgress& progress, PartitionRecord& partition, DiskRecord& disk);
// The same on an opened source: what the partition's sectors count in.
bool ScanMftRecords(const ByteSource& source, ScanProgress& progress, PartitionRecord& partition, DiskRecord& disk);

// The same listing from stretches of MFT records the deep scan recorded
// (fragments, absolute sectors) instead of the boot sector's MFT; `first` is
// the first fragment inside the partition. Fills ntfs.recordSectors.
bool ScanMftFragments(ScanProgress& progress, DiskRecord& disk, PartitionRecord& partition,
                      const MftFragmentList& fragments, MftFragmentList::const_iterator first);
bool ScanMftFragments(const ByteSource& source, ScanProgress& progress, PartitionRecord& partition,
                      const MftFragmentList& fragments, MftFragmentList::const_iterator first);

}  // namespace quorvel

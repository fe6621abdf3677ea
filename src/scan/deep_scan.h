#pragma once
// The deep scan: every sector of a disk (or of one partition) is tested for
// the traces of a volume or a file that it can recognise without trusting any
// partition table or directory: NTFS, FAT32 and FAT16 boot sectors, NTFS file
// records, FAT copies, FAT directory sectors, and files by their signatures.
// What it finds goes into the DiskRecord: "Partition%d" records, MFT
// fragments, directory sectors and carved files ("Extra Found Files").
#include <cstdint>
#include <string>

#include "core/scan_progress.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

constexpr uint64_t kDeepScanBlockSectors = 20480;  // 10 MiB per read

// Scans sectors [startSector, startSector + sectorCount): the whole disk
// without a partition, one partition (absolute sectors) with it. A composite
// volume is read through its members, its sectors counted from the volume's
// start; partitions found inside one are not added (a plain record could not
// say where they lie). False, with error set, when the source cannot be
// opened. A stopped scan keeps and finishes what it found (the post-pass runs)
// and returns true.
bool DeepScan(DiskRecord& disk, ScanProgress& progress, uint64_t startSector, uint64_t sectorCount,
              PartitionRecord* partition, std::string* error = nullptr);

// The sweep over an opened source whose offsets are sector × 512 in the
// numbering of startSector. Partitions are added only with addPartitions;
// their volume labels are left to the caller.
void DeepScanSource(DiskRecord& disk, const ByteSource& source, ScanProgress& progress, uint64_t startSector,
                    uint64_t sectorCount, bool addPartitions = true);

}  // namespace quorvel

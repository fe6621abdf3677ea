#pragma once
// Rebuilding a formatted FAT volume's folders from the directory sectors a
// sweep recorded in the DiskRecord, without the (new) FAT.
#include <cstdint>

#include "core/scan_progress.h"
#include "fs/fat/fat_directory_parser.h"
#include "model/disk_records.h"

namespace quorvel {

// Each recorded directory cluster from firstSector up to the partition's end
// becomes a folder named after its cluster number: under "根目录" when it is a
// subfolder's first cluster, under "零散目录" otherwise. The special folders
// must already be marked. The clusters are read from `source`, what the
// partition's sectors count in (io/volume_source.h). Returns false when
// stopped.
bool RebuildFat32FromSectors(const ByteSource& source, PartitionRecord& partition, DiskRecord& disk,
                             ScanProgress& progress, uint64_t firstSector);
bool RebuildFat16FromSectors(const ByteSource& source, PartitionRecord& partition, DiskRecord& disk,
                             ScanProgress& progress, uint64_t firstSector);

// The recorded-sector variants of the directory parser: subfolders are read
// by their first cluster only and checked by their "." entry; a deleted file
// removes the carved file that starts at its first cluster from
// disk.carvedFiles. Return false when stopped.
bool ParseFat32Recorded(DiskRecord& disk, const ByteSource& source, ByteView data, FatFileEntry& parent,
                        PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                        uint32_t& counter);
bool ParseFat16Recorded(DiskRecord& disk, const ByteSource& source, ByteView data, FatFileEntry& parent,
                        PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                        uint32_t& counter);

// Marks the FAT special folders for a run: "根目录" (state 3, first cluster
// rootCluster, in NormalEntryByCluster) and, when withLost, "零散目录" (state 3,
// first cluster 0, in DeletedEntryByCluster); without withLost "零散目录" is
// left unmarked and gets no row.
void MarkFatSpecialFolders(PartitionRecord& partition, uint32_t rootCluster, bool withLost);

}  // namespace quorvel

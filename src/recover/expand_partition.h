#pragma once
// Opening a partition on the file page: choose the reader by file-system kind,
// run it, and report what was found.
#include <memory>
#include <string>

#include "core/scan_progress.h"
#include "fs/fat/fat_volume.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

enum ExpansionMode : int {
  kNoReader = -1,
  kExpandFat32 = 0,
  kExpandNtfs = 1,
  kExpandFat16 = 2,
};

// The reader for a file-system kind, or kNoReader (exFAT, EXT, HFS, unknown).
ExpansionMode ExpansionModeForFsKind(uint8_t fsKind);

// Empties the partition's tree, indexes, NTFS maps and cached FAT (geometry stays).
void EmptyPartitionTree(PartitionRecord& partition);

// The start of every read of a partition: picks its reader into mode and
// empties its tree. False with error set when it has no reader.
bool BeginPartitionRead(PartitionRecord& partition, ExpansionMode& mode, std::string& error);

// Opens what the partition's reader reads (io/volume_source.h); null with
// the reader's error text set when it cannot be opened.
std::unique_ptr<ByteSource> OpenPartitionForRead(const DiskRecord& disk, const PartitionRecord& partition,
                                                 ExpansionMode mode, std::string& error);

// Lists an NTFS partition from its MFT records. False with error set when
// they cannot be read, or on a stop.
bool ListNtfsPartition(const ByteSource& source, DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress,
                       std::string& error);

// How a FAT read ended, as the run reports it: true when it listed or
// rebuilt the tree to its end; otherwise false, with error set unless the
// run was stopped.
bool ReportFatOutcome(FatVolumeOutcome outcome, const DiskRecord& disk, const ScanProgress& progress,
                      std::string& error);

// Runs the reader on the calling thread. False with error set when the
// partition has no reader, its source cannot be opened or the reader failed;
// a stopped run returns false with progress.StopRequested() set and keeps
// what it found. `recorded` says whether a FAT volume's folders are rebuilt
// from recorded directory sectors (fs/fat/fat_volume.h).
bool ExpandPartition(DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress, std::string& error,
                     RecordedSectors recorded = RecordedSectors::kKeepLiveTree);
// The same on an opened source: what the partition's sectors count in.
bool ExpandPartition(const ByteSource& source, DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress,
                     std::string& error, RecordedSectors recorded = RecordedSectors::kKeepLiveTree);

}  // namespace quorvel

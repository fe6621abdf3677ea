#pragma once
// Format recovery of one partition: record what survives of the old file
// system so the folders can be rebuilt.
#include <string>

#include "core/scan_progress.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// Runs on the calling thread. FAT: sweeps the partition for directory
// sectors into disk.directorySectors and rebuilds the folders from them, so
// the run ends with the recovered tree (also after a stop during the sweep:
// what it recorded is shown); NTFS: lists the partition from its surviving
// MFT records. False with error set when the partition has no reader or the
// device cannot be read; a stopped run returns false with
// progress.StopRequested() set and keeps what it found.
bool ScanFormatInfo(DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress, std::string& error);
// The same on an opened source: what the partition's sectors count in.
bool ScanFormatInfo(const ByteSource& source, DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress,
                    std::string& error);

// Why a partition of this kind cannot be read ("" when it can).
std::string NoReaderMessage(const PartitionRecord& partition);

// Recorded directory sectors inside [start, start + count].
size_t CountDirectorySectors(const DiskRecord& disk, uint64_t startSector, uint64_t sectorCount);

}  // namespace quorvel

#pragma once
// Format recovery on FAT: find the sectors that still hold FAT directory data
// so that the next expansion can rebuild folders from them.
#include <cstdint>

#include "core/byte_view.h"
#include "core/scan_progress.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// Sectors read per block of the sweep (10 MiB).
constexpr uint64_t kSweepBlockSectors = 20480;

// Reads sectors [startSector, startSector + sectorCount] (the end sector is
// tested too) of 512 bytes and adds every sector that holds FAT directory
// data to disk.directorySectors. Plain partitions (or none) are read from
// the disk at absolute sectors; composite volumes at volume-relative sectors.
// Returns false only when the source cannot be opened (or the block buffer
// cannot be had); a stopped sweep returns true and keeps what it recorded.
bool ScanDirectorySectors(DiskRecord& disk, PartitionRecord* partition, ScanProgress& progress, uint64_t startSector,
                          uint64_t sectorCount);
// The same over an opened source whose 512-byte sectors the range counts.
bool ScanDirectorySectors(const ByteSource& source, DiskRecord& disk, ScanProgress& progress, uint64_t startSector,
                          uint64_t sectorCount);

// The first sector of a subfolder: a "." entry, then a ".." entry at offset
// 32, both with size 0.
bool IsSubfolderFirstSector(ByteView sector);

// What IsFatDirectorySector asks of a non-empty sector's first entry
// (attribute below 0x80, no case bits but the lower-case ones), checked first
// by the sweeps: on most sectors of a disk it fails, and the full test is not
// called. Without branches: on random data the attribute's top bit is a coin
// toss. s holds at least 13 bytes.
inline bool FirstEntryMayBeDirectory(const uint8_t* s) {
  const unsigned attribute = s[11], caseByte = s[12];
  return (attribute < 0x80) & ((caseByte & ~0x18u) == 0);
}

// True when all 16 entries of the 512-byte sector look like FAT directory
// entries (short, long-name, deleted or zero). False for a shorter view.
bool IsFatDirectorySector(ByteView sector);

}  // namespace quorvel

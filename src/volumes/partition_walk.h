#pragma once
// The running state of one disk's partition walk, and its steps: one file
// per on-disk structure (mbr.cpp for the MBR and its extended chain, gpt.cpp
// for GUID tables, whole_disk.cpp for a volume without any table).
#include <cstdint>
#include <set>
#include <span>
#include <string>

#include "core/byte_view.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

struct PartitionWalk {
  DiskRecord& disk;
  const ByteSource& source;
  const std::string& path;
  int counter = 0;  // numbers the "Partition%d" names
  std::set<uint64_t> visitedEbrs;

  // Reads out.size() bytes at a sector of the disk (the rest zero-filled).
  void Read(uint64_t sector, std::span<uint8_t> out) const { ReadSectors(source, sector, source.SectorSize(), out); }
  // A record named "Partition%d" with the next number.
  PartitionRecord NewRecord();
  PartitionRecord& Append(PartitionRecord record);
};

// The four entries of the MBR in `mbr`, then the extended chains they name.
void WalkMbr(PartitionWalk& walk, ByteView mbr);
// The GPT whose header lies at headerSector. False when the walk of this disk
// must stop (an entry count above 128).
bool ReadGpt(PartitionWalk& walk, uint64_t headerSector);

// Sector 0 holds a volume's own boot sector rather than an MBR.
bool IsVolumeBootSector(ByteView sector);
// A FAT, NTFS or exFAT volume (or an unrecognised one) filling the disk.
void AddWholeDiskVolume(PartitionWalk& walk, ByteView boot);
// An EXT volume filling the disk; `superblock` is the 1024 bytes at offset 1024.
void AddWholeDiskExt(PartitionWalk& walk, ByteView superblock);

}  // namespace quorvel

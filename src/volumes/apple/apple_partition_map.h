#pragma once
// Apple disks: a partition map (driver descriptor "ER" in block 0, one "PM"
// entry per block from block 1) whose HFS-family partitions become records,
// or a single HFS-family volume over the whole disk.
#include <cstdint>
#include <string>

#include "core/byte_view.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// Walks the map of the disk whose block 0 is in head. Adds one record (FsKind
// 0x19) per named entry of type "Apple_HFS", "Apple_HFSX" or "Apple_HFS+",
// with its start and count in 512-byte sectors whatever the map's block
// size. disk.mapEntryCount receives the map's entry count.
void ReadApplePartitionMap(ByteView head, const ByteSource& source, DiskRecord& disk);

// Reads the HFS-family header 1024 bytes past startSector: the variant
// (0 none, 1 HFS, 2 HFS+, 3 HFSX, 4 HFS+ in HFS) and its text (the HFS
// volume name, "only hfs+" or "HFSX").
int ProbeHfsAt(const ByteSource& source, uint64_t startSector, std::string& text);

// A whole-disk HFS, HFS+ or HFS+-in-HFS volume; header is the 1024 bytes at
// offset 1024. HFSX and anything else add nothing.
void AddWholeDiskHfs(ByteView header, DiskRecord& disk);

}  // namespace quorvel

#pragma once
// Hand-off points of the partition walk to the volume-manager and Apple readers.
#include <cstdint>
#include <string>

#include "core/byte_view.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// MBR entry type 0x42: the dynamic-disk private header at sector 6 of the
// disk at path. A dynamic disk gets its identity and header values; its
// group is assembled once the disk is in the DiskList (AssembleDiskGroups).
void ReadDynamicDiskDatabase(DiskRecord& disk, const ByteSource& source, const std::string& path);
// The GPT "LDM metadata partition" [start, start + count): the same for a
// GPT dynamic disk, whose private header is the partition's last sector.
void ReadGptDynamicDisk(DiskRecord& disk, const ByteSource& source, uint64_t start, uint64_t count);
// "LABELONE" in sector 1: the LVM2 physical volume and its logical volumes.
void ReadLvm2Volumes(DiskRecord& disk, const ByteSource& source, const std::string& path);
// "ER" at the start of the disk: the Apple partition map. `head` is the
// first 2048 bytes of the disk.
void WalkApplePartitionMap(ByteView head, DiskRecord& disk, const ByteSource& source);
// A single HFS-family volume over the whole disk; `header` is the 1024 bytes
// at offset 1024. Adds "Partition0" for HFS, HFS+ in HFS and HFS+.
void ProbeWholeDiskHfs(ByteView header, DiskRecord& disk);

}  // namespace quorvel

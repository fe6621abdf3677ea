#pragma once
// Hand-off points of the partition walk to the volume-manager and Apple readers.
#include <cstdint>
#include <string>

#include "core/byte_view.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// MBR entry type 0x42: the dynamic-disk database on the disk at path.
void ReadDynamicDiskDatabase(DiskRecord& disk, const ByteSource& source, const std::string& path);
// "LABELONE" in sector 1: the LVM2 physical volume and its logical volumes.
void ReadLvm2Volumes(DiskRecord& disk, const ByteSource& source, const std::string& path);
// "ER" at the start of the disk: the Apple partition map. `head` is the
// first 2048 bytes of the disk.
void WalkApplePartitionMap(ByteView head, DiskRecord& disk, const ByteSource& source);
// A single HFS-family volume over the whole disk; `header` is the 1024 bytes
// at offset 1024. Adds "Partition0" for HFS, HFS+ in HFS and HFS+.
void ProbeWholeDiskHfs(ByteView header, DiskRecord& disk);

}  // namespace quorvel

#pragma once
// The write guard: "does writing this path reach any byte of this source?",
// asked before anything is written - saved files, scan-result files, image
// files, mapfiles and imaging target disks. The answer comes from the storage
// footprint (platform/storage_footprint.h); this maps a disk or partition
// record to the paths its bytes are read from.
#include <string>
#include <vector>

#include "model/disk_records.h"

namespace quorvel {

// The paths the bytes of partition (null: the whole disk, every partition
// with it) are read from: the disk's image or device, and each member's for a
// volume spread over several. A dynamic-disk group has no path of its own,
// only its members'.
std::vector<std::string> SourceStoragePaths(const DiskRecord& disk, const PartitionRecord* partition);

// True when writing at target (a folder to save into, or a file to write)
// could change bytes of the source. For an image file only the image itself,
// a loop device backed by it and the mounts of those or of the image (FUSE)
// count, not the file system it lies in; for a disk, the disk, any of its
// partitions and anything stacked on them. A target that cannot be examined
// answers true, so the caller asks rather than writes blindly.
bool TargetReachesSource(const std::string& target, const DiskRecord& disk, const PartitionRecord* partition);

}  // namespace quorvel

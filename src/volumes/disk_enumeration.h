#pragma once
// Building the DiskList: physical disks, image files and their partition tables.
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "model/disk_records.h"
#include "platform/physical_disks.h"

namespace quorvel {

// Adds every physical disk (at most 16) and attaches mount points. Returns 1.
int EnumerateDisks(DiskList& list);
// The same; disks that exist but cannot be opened (no permission) are skipped
// and listed in unreadable as "PATH: reason".
int EnumerateDisks(DiskList& list, std::vector<std::string>* unreadable);
// Adds a DiskRecord for an image file and walks it; 0 when it cannot be
// opened (a folder, a FIFO or anything else that is neither a regular file
// nor a block device is refused without blocking), with why set to
// "PATH: reason" when given.
int OpenImageFile(DiskList& list, const std::string& path, std::string* why = nullptr);
// Fills disk.partitions from the disk's bytes (read from offset 0, sectors of
// source.SectorSize()); path is the device path handed on to the volume
// managers.
void WalkPartitions(DiskRecord& disk, const ByteSource& source, const std::string& path);
// Gives every plain partition of the physical disks in list that is mounted
// its mount point as drive text.
void AttachMountPoints(DiskList& list);
// The same with a given mount table (the first mount of a partition wins).
void AttachMountPoints(DiskList& list, const std::vector<MountedPartition>& mounts);
// The identifier clean-up of disk identity strings: hexadecimal text is
// decoded when it decodes to printable bytes, else the raw string is kept up
// to its first non-printable character; then blanks are trimmed.
std::string CleanIdentifier(const std::string& raw);

}  // namespace quorvel

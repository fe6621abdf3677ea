#pragma once
// Building the DiskList: physical disks, image files and their partition tables.
#include <string>

#include "disk/disk_records.h"
#include "disk/sector_device.h"

namespace quorvel {

// Adds every physical disk (at most 16) and attaches mount points. Returns 1.
int EnumerateDisks(DiskList& list);
// Adds a DiskRecord for an image file and walks it; 0 when it cannot be opened.
int OpenImageFile(DiskList& list, const std::string& path);
// Fills disk.partitions from the device (reads from offset 0).
void WalkPartitions(DiskRecord& disk, SectorDevice& device, const std::string& path);

}  // namespace quorvel

#pragma once
// The machine's whole-disk block devices and what is mounted on them.
#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

struct PhysicalDiskInfo {
  int number = 0;      // 0-based in name order
  std::string name;    // "sda", "nvme0n1", "loop3"
  std::string path;    // "/dev/sda"
  std::string vendor;  // raw identity strings, before clean-up
  std::string model;
  std::string revision;
  uint64_t sizeBytes = 0;
  uint32_t cylinders = 0;
  uint32_t heads = 0;
  uint32_t sectorsPerTrack = 0;
  bool fixed = false;  // removable is 0
};

// Whole disks from /sys/block: sd*, vd*, xvd*, hd*, nvme*n*, mmcblk* and loop
// devices with a backing file; in name order, numbered from 0, at most 16.
std::vector<PhysicalDiskInfo> ListPhysicalDisks();

// Orders block-device names so that "sdb" < "sdaa" and "nvme0n2" < "nvme0n10".
bool BlockNameLess(const std::string& a, const std::string& b);
// True for the whole-disk names listed above (loop devices need a backing
// file, which is checked separately).
bool IsWholeDiskName(const std::string& name);

struct MountedPartition {
  std::string diskName;  // whole disk holding it, e.g. "sda"
  uint64_t startSector = 0;
  std::string mountPoint;  // decoded path
};

// Mounted block devices from /proc/self/mountinfo, matched to their disk and
// start sector through /sys/class/block. Devices that are not a disk or a
// partition of one (device-mapper, network file systems) are left out.
std::vector<MountedPartition> ListMountedPartitions();

// Resolves a block device number to its whole disk and start sector.
bool BlockDeviceLocation(dev_t device, std::string& diskName, uint64_t& startSector);

// Decodes the octal escapes (\040 and friends) of /proc/self/mountinfo.
std::string DecodeMountField(const std::string& field);

}  // namespace quorvel

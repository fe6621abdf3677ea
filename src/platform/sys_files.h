#pragma once
// Small readers of the kernel's /sys and /proc files.
#include <sys/types.h>
#include <string>
#include <vector>

namespace quorvel {

// The first line of a file (empty when it cannot be read).
std::string FirstLineOf(const std::string& path);
// The names in a folder, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& path);
// The backing file of the loop device whose sysfs folder is sysDevice
// ("/sys/class/block/loop0"), without the " (deleted)" the kernel appends
// when the file is gone; empty for any other device.
std::string LoopBackingFile(const std::string& sysDevice);
// "MAJOR:MINOR" as a device number.
bool ParseDevNumber(const std::string& text, dev_t& dev);

// One line of /proc/self/mountinfo; paths decoded.
struct MountEntry {
  dev_t dev = 0;  // the file system's device number
  std::string root;
  std::string mountPoint;
  std::string fsType;
  std::string source;
};
std::vector<MountEntry> ReadMountTable();

}  // namespace quorvel

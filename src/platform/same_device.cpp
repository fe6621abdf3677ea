#include "platform/same_device.h"

#include <sys/stat.h>
#include <set>

#include "platform/physical_disks.h"
#include "platform/sys_files.h"

namespace quorvel {

namespace {

// A block device and everything stacked on it (device-mapper, md), by name.
void AddWithHolders(const std::string& name, std::set<dev_t>& out, int depth) {
  if (depth > 16) return;
  dev_t dev;
  if (ParseDevNumber(FirstLineOf("/sys/class/block/" + name + "/dev"), dev)) out.insert(dev);
  for (const std::string& holder : FolderEntries("/sys/class/block/" + name + "/holders"))
    AddWithHolders(holder, out, depth + 1);
}

// Block devices and file systems that a source path occupies.
void CollectSource(const std::string& path, std::set<dev_t>& blockDevices, std::set<dev_t>& fileSystems) {
  if (path.empty()) return;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;
  if (S_ISREG(st.st_mode)) {
    fileSystems.insert(st.st_dev);
    return;
  }
  if (!S_ISBLK(st.st_mode)) return;
  blockDevices.insert(st.st_rdev);
  std::string diskName;
  uint64_t start = 0;
  if (!BlockDeviceLocation(st.st_rdev, diskName, start)) return;
  AddWithHolders(diskName, blockDevices, 0);
  for (const std::string& child : FolderEntries("/sys/block/" + diskName)) {
    if (child.rfind(diskName, 0) == 0) AddWithHolders(child, blockDevices, 0);
  }
  // Writing into the file system behind a loop device rewrites the source too.
  std::string backing = LoopBackingFile("/sys/block/" + diskName);
  struct stat bs {};
  if (!backing.empty() && ::stat(backing.c_str(), &bs) == 0) fileSystems.insert(bs.st_dev);
}

// The device numbers that stand for the target's file system: its st_dev, and
// for file systems with an anonymous device number (btrfs, overlay on a
// disk) the device its mount names as source.
bool TargetDevices(const std::string& targetFolder, std::set<dev_t>& out) {
  dev_t dev;
  if (!NearestExistingDevice(targetFolder, dev)) return false;
  out.insert(dev);
  for (const std::string& source : MountSourcesOf(dev)) {
    struct stat ss {};
    if (!source.empty() && source[0] == '/' && ::stat(source.c_str(), &ss) == 0 && S_ISBLK(ss.st_mode))
      out.insert(ss.st_rdev);
  }
  return true;
}

}  // namespace

bool NearestExistingDevice(const std::string& path, dev_t& dev) {
  std::string probe = path.empty() ? std::string(".") : path;
  struct stat st {};
  for (int i = 0; i < 256; ++i) {
    if (::stat(probe.c_str(), &st) == 0) {
      dev = st.st_dev;
      return true;
    }
    size_t slash = probe.find_last_of('/');
    if (slash == std::string::npos) {
      probe = ".";
    } else if (slash == 0) {
      probe = "/";
    } else {
      probe = probe.substr(0, slash);
    }
  }
  return false;
}

std::vector<std::string> MountSourcesOf(dev_t dev) {
  std::vector<std::string> sources;
  for (const MountEntry& mount : ReadMountTable())
    if (mount.dev == dev) sources.push_back(mount.source);
  return sources;
}

bool TargetIsOnSource(const std::string& targetFolder, const std::vector<std::string>& sourcePaths) {
  std::set<dev_t> target;
  if (!TargetDevices(targetFolder, target)) return true;
  std::set<dev_t> blockDevices, fileSystems;
  for (const std::string& path : sourcePaths) CollectSource(path, blockDevices, fileSystems);
  for (dev_t dev : target) {
    if (blockDevices.count(dev) || fileSystems.count(dev)) return true;
  }
  return false;
}

}  // namespace quorvel

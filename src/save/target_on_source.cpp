// The same-drive check of the save commands. Devices are judged by the
// platform's TargetIsOnSource; an image file is a source that writing beside
// it cannot change, but a target inside a mount of the image (a loop device
// backed by it, or a FUSE mount of it) writes into the image itself.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/same_device.h"
#include "platform/sys_files.h"
#include "save/save_job.h"

namespace quorvel {

namespace {

bool SameFile(const std::string& path, const struct stat& image) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && st.st_dev == image.st_dev && st.st_ino == image.st_ino;
}

// Is the file system holding dev a mount of the image?
bool DeviceIsMountOfImage(dev_t dev, const struct stat& image) {
  // A loop device (or a partition of one) backed by the image.
  std::string sys = "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  if (SameFile(LoopBackingFile(sys), image)) return true;
  if (SameFile(LoopBackingFile(sys + "/.."), image)) return true;
  // A mount whose source is the image itself (FUSE file systems such as
  // ntfs-3g), or a loop device named as the source.
  for (const std::string& source : MountSourcesOf(dev)) {
    if (SameFile(source, image)) return true;
    struct stat ss {};
    if (!source.empty() && ::stat(source.c_str(), &ss) == 0 && S_ISBLK(ss.st_mode)) {
      std::string blk = "/sys/dev/block/" + std::to_string(major(ss.st_rdev)) + ":" + std::to_string(minor(ss.st_rdev));
      if (SameFile(LoopBackingFile(blk), image)) return true;
      if (SameFile(LoopBackingFile(blk + "/.."), image)) return true;
    }
  }
  return false;
}

}  // namespace

bool TargetOnSourceDrive(const std::string& targetFolder, const DiskRecord& disk, const PartitionRecord& partition) {
  struct stat image {};
  if (::stat(disk.devicePath.c_str(), &image) == 0 && S_ISREG(image.st_mode) && partition.members.empty()) {
    dev_t target;
    // A target that cannot be examined is treated as on the source: the
    // caller asks rather than writes blindly.
    if (!NearestExistingDevice(targetFolder, target)) return true;
    return DeviceIsMountOfImage(target, image);
  }
  std::vector<std::string> sources{disk.devicePath, partition.devicePath};
  for (const auto& [ordinal, member] : partition.members) sources.push_back(member.path);
  return TargetIsOnSource(targetFolder, sources);
}

}  // namespace quorvel

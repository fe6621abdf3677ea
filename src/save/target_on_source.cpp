// The same-drive check of the save commands. Devices are judged by the
// platform's TargetIsOnSource; an image file is a source that writing beside
// it cannot change, but a target inside a mount of the image (a loop device
// backed by it, or a FUSE mount of it) writes into the image itself.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/physical_disks.h"
#include "platform/same_device.h"
#include "save/save_job.h"

namespace quorvel {

namespace {

// The nearest existing folder of path (a target may not exist yet).
bool StatNearest(const std::string& path, struct stat& st) {
  std::string probe = path.empty() ? std::string(".") : path;
  for (int i = 0; i < 256; ++i) {
    if (::stat(probe.c_str(), &st) == 0) return true;
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

bool SameFile(const std::string& path, const struct stat& image) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && st.st_dev == image.st_dev && st.st_ino == image.st_ino;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  const std::string deleted = " (deleted)";
  if (line.size() > deleted.size() && line.compare(line.size() - deleted.size(), deleted.size(), deleted) == 0)
    line.resize(line.size() - deleted.size());
  return line;
}

// Is the file system holding dev a mount of the image?
bool DeviceIsMountOfImage(dev_t dev, const struct stat& image) {
  // A loop device (or a partition of one) backed by the image.
  std::string sys = "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  if (SameFile(FirstLine(sys + "/loop/backing_file"), image)) return true;
  if (SameFile(FirstLine(sys + "/../loop/backing_file"), image)) return true;
  // A mount whose source is the image itself (FUSE file systems such as
  // ntfs-3g), or a loop device named as the source.
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin, word;
    fields >> id >> parent >> majmin;
    unsigned maj = 0, min = 0;
    if (std::sscanf(majmin.c_str(), "%u:%u", &maj, &min) != 2 || makedev(maj, min) != dev) continue;
    while (fields >> word && word != "-") {
    }
    std::string fsType, source;
    fields >> fsType >> source;
    source = DecodeMountField(source);
    if (SameFile(source, image)) return true;
    struct stat ss {};
    if (!source.empty() && ::stat(source.c_str(), &ss) == 0 && S_ISBLK(ss.st_mode)) {
      std::string blk = "/sys/dev/block/" + std::to_string(major(ss.st_rdev)) + ":" + std::to_string(minor(ss.st_rdev));
      if (SameFile(FirstLine(blk + "/loop/backing_file"), image)) return true;
      if (SameFile(FirstLine(blk + "/../loop/backing_file"), image)) return true;
    }
  }
  return false;
}

}  // namespace

bool TargetOnSourceDrive(const std::string& targetFolder, const DiskRecord& disk, const PartitionRecord& partition) {
  struct stat image {};
  if (::stat(disk.devicePath.c_str(), &image) == 0 && S_ISREG(image.st_mode) && partition.members.empty()) {
    struct stat target {};
    // A target that cannot be examined is treated as on the source: the
    // caller asks rather than writes blindly.
    if (!StatNearest(targetFolder, target)) return true;
    return DeviceIsMountOfImage(target.st_dev, image);
  }
  return TargetIsOnSource(targetFolder, disk, &partition);
}

}  // namespace quorvel

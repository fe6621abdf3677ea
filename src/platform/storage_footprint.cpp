#include "platform/storage_footprint.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <cstdio>
#include <vector>

#include "platform/same_device.h"
#include "platform/sys_files.h"

namespace quorvel {

namespace {

// Stacks are shallow (partition, device-mapper, loop over a file on another
// disk); the bound only stops a malformed /sys from looping.
constexpr int kMaxDepth = 16;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The sysfs name of a block device number ("sda1", "dm-0", "loop3"); empty
// when the number is not a block device.
std::string BlockName(dev_t dev) {
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(dev), minor(dev));
  char target[4096];
  ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n <= 0) return std::string();
  target[n] = 0;
  std::string path = target;
  return path.substr(path.find_last_of('/') + 1);
}

class Walker {
 public:
  explicit Walker(StorageFootprint& out) : out_(out) {}

  // A block device: its raw bytes are those of the whole disks beneath it.
  // intoFileSystem: the device holds a file system whose files are involved,
  // so its disks count as file-system disks rather than raw ones.
  void BlockDevice(const std::string& name, bool intoFileSystem, int depth) {
    if (depth > kMaxDepth) {
      out_.complete = false;
      return;
    }
    const std::string sys = "/sys/class/block/" + name;
    if (Exists(sys + "/partition")) {
      // The parent folder of a partition's sysfs entry is its disk.
      char target[4096];
      ssize_t n = ::readlink(sys.c_str(), target, sizeof target - 1);
      if (n <= 0) {
        out_.complete = false;
        return;
      }
      target[n] = 0;
      std::string path = target;
      std::string parent = path.substr(0, path.find_last_of('/'));
      BlockDevice(parent.substr(parent.find_last_of('/') + 1), intoFileSystem, depth + 1);
      return;
    }
    std::string backing = LoopBackingFile(sys);
    if (!backing.empty()) {
      File(backing, depth + 1);
      return;
    }
    std::vector<std::string> slaves = FolderEntries(sys + "/slaves");
    if (!slaves.empty()) {
      for (const std::string& slave : slaves) BlockDevice(slave, intoFileSystem, depth + 1);
      return;
    }
    if (!Exists(sys)) {
      out_.complete = false;
      return;
    }
    (intoFileSystem ? out_.fileSystemDisks : out_.rawDisks).insert(name);
  }

  // A regular file: the file itself, and the disks of its file system.
  void File(const std::string& path, int depth) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      out_.complete = false;
      return;
    }
    out_.files.insert({st.st_dev, st.st_ino});
    FileSystem(st.st_dev, depth + 1);
  }

  // The file system with device number dev: a block device, or for anonymous
  // numbers (btrfs, overlay, FUSE) whatever its mount names as source - a
  // block device, or an image file mounted by a FUSE driver.
  void FileSystem(dev_t dev, int depth) {
    if (depth > kMaxDepth) {
      out_.complete = false;
      return;
    }
    std::string name = BlockName(dev);
    if (!name.empty()) {
      BlockDevice(name, true, depth + 1);
      return;
    }
    for (const std::string& source : MountSourcesOf(dev)) {
      struct stat ss {};
      if (source.empty() || source[0] != '/' || ::stat(source.c_str(), &ss) != 0) continue;
      if (S_ISBLK(ss.st_mode)) {
        std::string sourceName = BlockName(ss.st_rdev);
        if (!sourceName.empty()) BlockDevice(sourceName, true, depth + 1);
      } else if (S_ISREG(ss.st_mode)) {
        File(source, depth + 1);
      }
    }
  }

 private:
  StorageFootprint& out_;
};

template <typename T>
bool Meet(const std::set<T>& a, const std::set<T>& b) {
  for (const T& x : a)
    if (b.count(x)) return true;
  return false;
}

}  // namespace

StorageFootprint FootprintOfPath(const std::string& path) {
  StorageFootprint out;
  Walker walker(out);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISBLK(st.st_mode)) {
      std::string name = BlockName(st.st_rdev);
      if (name.empty())
        out.complete = false;
      else
        walker.BlockDevice(name, false, 0);
    } else if (S_ISREG(st.st_mode)) {
      walker.File(path, 0);
    } else {
      walker.FileSystem(st.st_dev, 0);
    }
    return out;
  }
  dev_t folder;
  if (!NearestExistingDevice(path, folder)) {
    out.complete = false;
    return out;
  }
  walker.FileSystem(folder, 0);
  return out;
}

bool WriteReachesSource(const StorageFootprint& target, const StorageFootprint& source) {
  if (!target.complete || !source.complete) return true;
  if (Meet(target.files, source.files)) return true;
  if (Meet(target.rawDisks, source.rawDisks) || Meet(target.rawDisks, source.fileSystemDisks)) return true;
  return Meet(target.fileSystemDisks, source.rawDisks);
}

std::string MountedOn(const StorageFootprint& footprint) {
  for (const MountEntry& mount : ReadMountTable()) {
    std::string name = BlockName(mount.dev);
    if (name.empty()) continue;  // not a block device (tmpfs, proc, FUSE)
    StorageFootprint mounted;
    Walker(mounted).BlockDevice(name, false, 0);
    if (Meet(mounted.rawDisks, footprint.rawDisks) || Meet(mounted.files, footprint.files)) return mount.mountPoint;
  }
  return std::string();
}

}  // namespace quorvel

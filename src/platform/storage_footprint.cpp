#include "platform/storage_footprint.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>

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

// The st_dev of path, or of its nearest existing parent (a target folder may
// not exist yet). False when nothing on the way can be examined.
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

// Where writing at path lands when a symbolic link on its way points at
// something that does not exist yet: creating the path follows the link, so
// the link's target is what is judged.
std::string FollowDanglingLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    std::string probe = path, tail;
    struct stat st {};
    while (::lstat(probe.c_str(), &st) != 0) {
      const size_t slash = probe.find_last_of('/');
      if (slash == std::string::npos || slash == 0) return path;
      tail = probe.substr(slash) + tail;
      probe.resize(slash);
    }
    if (!S_ISLNK(st.st_mode) || ::stat(probe.c_str(), &st) == 0) return path;
    char link[4096];
    const ssize_t n = ::readlink(probe.c_str(), link, sizeof link - 1);
    if (n <= 0) return path;
    std::string next(link, static_cast<size_t>(n));
    if (next[0] != '/') {
      const size_t slash = probe.find_last_of('/');
      if (slash != std::string::npos) next = probe.substr(0, slash + 1) + next;
    }
    path = next + tail;
  }
  return path;
}

// How a walk reached a device or file: directly (its raw bytes), or through
// the file system with device number fs that is stored on it.
struct Via {
  bool throughFileSystem = false;
  dev_t fs = 0;
};
constexpr Via kRaw{};

class Walker {
 public:
  explicit Walker(StorageFootprint& out) : out_(out) {}

  // A block device: its raw bytes are those of the whole disks beneath it, or
  // of a loop device's backing file.
  void BlockDevice(const std::string& name, Via via, int depth) {
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
      BlockDevice(parent.substr(parent.find_last_of('/') + 1), via, depth + 1);
      return;
    }
    std::string backing = LoopBackingFile(sys);
    if (!backing.empty()) {
      File(backing, via, depth + 1);
      return;
    }
    std::vector<std::string> slaves = FolderEntries(sys + "/slaves");
    if (!slaves.empty()) {
      for (const std::string& slave : slaves) BlockDevice(slave, via, depth + 1);
      return;
    }
    if (!Exists(sys)) {
      out_.complete = false;
      return;
    }
    (via.throughFileSystem ? out_.fileSystemDisks : out_.rawDisks).insert(name);
  }

  // A regular file: the file itself, and what its file system is stored on.
  void File(const std::string& path, Via via, int depth) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      out_.complete = false;
      return;
    }
    const FileId id{st.st_dev, st.st_ino};
    if (via.throughFileSystem)
      out_.containers.insert({id, via.fs});
    else
      out_.files.insert(id);
    FileSystem(st.st_dev, depth + 1);
  }

  // The file system with device number dev: a block device, or for anonymous
  // numbers (btrfs, overlay, FUSE) whatever its mount names as source - a
  // block device, or an image file mounted by a FUSE driver (ntfs-3g).
  void FileSystem(dev_t dev, int depth) {
    if (depth > kMaxDepth) {
      out_.complete = false;
      return;
    }
    const Via via{true, dev};
    std::string name = BlockName(dev);
    if (!name.empty()) {
      BlockDevice(name, via, depth + 1);
      return;
    }
    for (const MountEntry& mount : ReadMountTable()) {
      if (mount.dev != dev) continue;
      const std::string& source = mount.source;
      struct stat ss {};
      if (source.empty() || source[0] != '/' || ::stat(source.c_str(), &ss) != 0) continue;
      if (S_ISBLK(ss.st_mode)) {
        std::string sourceName = BlockName(ss.st_rdev);
        if (!sourceName.empty()) BlockDevice(sourceName, via, depth + 1);
      } else if (S_ISREG(ss.st_mode)) {
        File(source, via, depth + 1);
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

void Merge(StorageFootprint& into, const StorageFootprint& one) {
  into.rawDisks.insert(one.rawDisks.begin(), one.rawDisks.end());
  into.fileSystemDisks.insert(one.fileSystemDisks.begin(), one.fileSystemDisks.end());
  into.files.insert(one.files.begin(), one.files.end());
  into.containers.insert(one.containers.begin(), one.containers.end());
  into.complete = into.complete && one.complete;
}

// Does writing target reach a file of the source? Writing a file directly
// (an image file, a loop device) changes it and every file system stored in
// it; writing through a file system changes the files holding it, which
// reaches the source when the source is such a file, or lives in another file
// system stored in the same one (two mounts of one image).
bool FilesCollide(const StorageFootprint& target, const StorageFootprint& source) {
  for (const FileId& file : target.files)
    if (source.Involves(file)) return true;
  for (const auto& [file, fs] : target.containers) {
    if (source.files.count(file)) return true;
    for (const auto& [sourceFile, sourceFs] : source.containers)
      if (sourceFile == file && sourceFs != fs) return true;
  }
  return false;
}

}  // namespace

bool StorageFootprint::Involves(const FileId& file) const {
  if (files.count(file)) return true;
  for (const auto& [holder, fs] : containers)
    if (holder == file) return true;
  return false;
}

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
        walker.BlockDevice(name, kRaw, 0);
    } else if (S_ISREG(st.st_mode)) {
      walker.File(path, kRaw, 0);
    } else {
      walker.FileSystem(st.st_dev, 0);
    }
    return out;
  }
  dev_t folder;
  if (!NearestExistingDevice(FollowDanglingLinks(path), folder)) {
    out.complete = false;
    return out;
  }
  walker.FileSystem(folder, 0);
  return out;
}

StorageFootprint FootprintOfSources(const std::vector<std::string>& sourcePaths) {
  StorageFootprint all;
  bool any = false;
  for (const std::string& path : sourcePaths) {
    if (path.empty()) continue;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) continue;  // nothing there to overwrite
      all.complete = false;
      continue;
    }
    any = true;
    Merge(all, FootprintOfPath(path));
  }
  if (!any) all.complete = false;
  return all;
}

bool WriteReachesSource(const StorageFootprint& target, const StorageFootprint& source) {
  if (!target.complete || !source.complete) return true;
  if (FilesCollide(target, source)) return true;
  if (Meet(target.rawDisks, source.rawDisks) || Meet(target.rawDisks, source.fileSystemDisks)) return true;
  return Meet(target.fileSystemDisks, source.rawDisks);
}

bool WritingReachesSource(const std::string& targetPath, const std::vector<std::string>& sourcePaths) {
  return WriteReachesSource(FootprintOfPath(targetPath), FootprintOfSources(sourcePaths));
}

std::string MountedOn(const StorageFootprint& footprint) {
  for (const MountEntry& mount : ReadMountTable()) {
    std::string name = BlockName(mount.dev);
    if (name.empty()) continue;  // not a block device (tmpfs, proc, FUSE)
    StorageFootprint mounted;
    Walker(mounted).BlockDevice(name, kRaw, 0);
    if (Meet(mounted.rawDisks, footprint.rawDisks) || Meet(mounted.files, footprint.files)) return mount.mountPoint;
  }
  return std::string();
}

}  // namespace quorvel

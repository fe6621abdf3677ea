#include "platform/physical_disks.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/sys_files.h"

namespace quorvel {

namespace {

constexpr int kMaxDisks = 16;

std::string ReadSysText(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::string();
  std::string text;
  std::getline(in, text, '\0');
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool AllDigits(const std::string& s, size_t from) {
  if (from >= s.size()) return false;
  return std::all_of(s.begin() + static_cast<long>(from), s.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; });
}

uint64_t ParseNumber(const std::string& text) {
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

}  // namespace

bool IsWholeDiskName(const std::string& name) {
  auto letters = [&](size_t from) {
    return from < name.size() && std::all_of(name.begin() + static_cast<long>(from), name.end(),
                                             [](unsigned char c) { return c >= 'a' && c <= 'z'; });
  };
  if (StartsWith(name, "xvd")) return letters(3);
  if (StartsWith(name, "sd") || StartsWith(name, "vd") || StartsWith(name, "hd")) return letters(2);
  if (StartsWith(name, "mmcblk")) return AllDigits(name, 6);
  if (StartsWith(name, "loop")) return AllDigits(name, 4);
  if (StartsWith(name, "nvme")) {
    // nvme<controller>n<namespace>, without a partition suffix
    size_t n = name.find('n', 4);
    return n != std::string::npos && AllDigits(name.substr(0, n), 4) && AllDigits(name, n + 1);
  }
  return false;
}

bool BlockNameLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      uint64_t va = ParseNumber(a.substr(i, ei - i));
      uint64_t vb = ParseNumber(b.substr(j, ej - j));
      if (va != vb) return va < vb;
      i = ei;
      j = ej;
      continue;
    }
    // Letter runs: a shorter run sorts first, so "sdz" < "sdaa".
    if (!da && !db) {
      size_t ei = i, ej = j;
      while (ei < a.size() && !std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && !std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string ra = a.substr(i, ei - i), rb = b.substr(j, ej - j);
      if (ra != rb) {
        // Same family prefix, different letter suffix lengths.
        if (ra.size() != rb.size() && ra.compare(0, 2, rb, 0, 2) == 0) return ra.size() < rb.size();
        return ra < rb;
      }
      i = ei;
      j = ej;
      continue;
    }
    return da;  // digits before letters
  }
  return a.size() - i < b.size() - j;
}

std::vector<PhysicalDiskInfo> ListPhysicalDisks() {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir("/sys/block")) {
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (!IsWholeDiskName(name)) continue;
      if (StartsWith(name, "loop") && ReadSysText("/sys/block/" + name + "/loop/backing_file").empty()) continue;
      names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end(), BlockNameLess);
  if (names.size() > kMaxDisks) names.resize(kMaxDisks);

  std::vector<PhysicalDiskInfo> disks;
  for (size_t i = 0; i < names.size(); ++i) {
    PhysicalDiskInfo d;
    d.number = static_cast<int>(i);
    d.name = names[i];
    d.path = "/dev/" + d.name;
    std::string sys = "/sys/block/" + d.name;
    d.vendor = ReadSysText(sys + "/device/vendor");
    d.model = ReadSysText(sys + "/device/model");
    if (d.model.empty()) d.model = ReadSysText(sys + "/device/name");  // mmc cards
    d.revision = ReadSysText(sys + "/device/rev");
    if (d.revision.empty()) d.revision = ReadSysText(sys + "/device/firmware_rev");
    if (StartsWith(d.name, "loop")) {
      // A loop device is named by the file behind it.
      std::string backing = ReadSysText(sys + "/loop/backing_file");
      size_t slash = backing.find_last_of('/');
      d.model = "loop:" + (slash == std::string::npos ? backing : backing.substr(slash + 1));
    }
    d.fixed = ReadSysText(sys + "/removable") == "0";
    // Size from the sysfs count when the device itself cannot be opened.
    d.sizeBytes = ParseNumber(ReadSysText(sys + "/size")) * 512;
    d.heads = 255;
    d.sectorsPerTrack = 63;
    int fd = ::open(d.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      uint64_t size = 0;
      if (::ioctl(fd, BLKGETSIZE64, &size) == 0) d.sizeBytes = size;
      hd_geometry geo{};
      if (::ioctl(fd, HDIO_GETGEO, &geo) == 0 && geo.heads != 0 && geo.sectors != 0) {
        d.heads = geo.heads;
        d.sectorsPerTrack = geo.sectors;
      }
      ::close(fd);
    }
    // HDIO_GETGEO's cylinder field is only 16 bits wide; derive it from the size.
    d.cylinders = static_cast<uint32_t>(d.sizeBytes / 512 / d.heads / d.sectorsPerTrack);
    disks.push_back(std::move(d));
  }
  return disks;
}

std::string DecodeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char* p = field.c_str() + i + 1;
      if (p[0] >= '0' && p[0] <= '7' && p[1] >= '0' && p[1] <= '7' && p[2] >= '0' && p[2] <= '7') {
        out.push_back(static_cast<char>((p[0] - '0') * 64 + (p[1] - '0') * 8 + (p[2] - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

bool BlockDeviceLocation(dev_t device, std::string& diskName, uint64_t& startSector) {
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(device), minor(device));
  char target[4096];
  ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = 0;
  std::string path = target;
  size_t slash = path.find_last_of('/');
  std::string name = path.substr(slash + 1);
  std::string sys = std::string("/sys/class/block/") + name;
  if (FileExists(sys + "/partition")) {
    std::string parent = path.substr(0, slash);
    diskName = parent.substr(parent.find_last_of('/') + 1);
    startSector = ParseNumber(ReadSysText(sys + "/start"));
    return true;
  }
  if (FileExists("/sys/block/" + name)) {
    diskName = name;
    startSector = 0;
    return true;
  }
  return false;
}

std::vector<MountedPartition> ListMountedPartitions() {
  std::vector<MountedPartition> out;
  for (const MountEntry& mount : ReadMountTable()) {
    // Only the mount of a file system's root names the volume (bind mounts of
    // sub-folders do not).
    if (mount.root != "/") continue;
    dev_t dev = mount.dev;
    if (major(dev) == 0) {
      // Btrfs and others report an anonymous device: go by the source path.
      struct stat st {};
      if (mount.source.empty() || mount.source[0] != '/' || ::stat(mount.source.c_str(), &st) != 0 ||
          !S_ISBLK(st.st_mode))
        continue;
      dev = st.st_rdev;
    }
    MountedPartition m;
    if (!BlockDeviceLocation(dev, m.diskName, m.startSector)) continue;
    m.mountPoint = mount.mountPoint;
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace quorvel

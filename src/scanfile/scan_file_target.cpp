#include "scanfile/scan_file_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/write_guard.h"

namespace quorvel {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

ScanFileTarget Say(ScanFileTarget verdict, std::string* why, const std::string& text) {
  if (why) *why = text;
  return verdict;
}

}  // namespace

ScanFileTarget CheckScanFileTarget(const std::string& path, const DiskRecord& disk, std::string* why) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat folderStat {};
  if (::stat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode))
    return Say(ScanFileTarget::kNoFolder, why, folder + " is not an existing folder");
  struct stat target {};
  if (::lstat(path.c_str(), &target) == 0 && S_ISLNK(target.st_mode))
    return Say(ScanFileTarget::kNotWritable, why, path + " is a symbolic link (not followed: name the file itself)");
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (exists && S_ISDIR(target.st_mode)) return Say(ScanFileTarget::kNoFolder, why, path + " is a folder");

  for (const std::string& source : SourceStoragePaths(disk, nullptr)) {
    struct stat st {};
    if (!exists || ::stat(source.c_str(), &st) != 0) continue;  // a member not present
    if (SameFile(st, target) || (S_ISBLK(st.st_mode) && S_ISBLK(target.st_mode) && st.st_rdev == target.st_rdev))
      return Say(ScanFileTarget::kIsSource, why, path + " is the source " + source);
  }
  // Beside an image is fine; inside a mount of it, or anywhere on a source
  // disk, is writing into the source.
  if (TargetReachesSource(path, disk, nullptr))
    return Say(ScanFileTarget::kOnSource, why, folder + " lies on the source " + disk.devicePath);

  // Asked before a scan of hours rather than after it.
  std::string probe = folder + "/.rvz_scn-probe.XXXXXX";
  const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return Say(ScanFileTarget::kNotWritable, why, folder + ": " + std::strerror(errno));
  ::close(fd);
  ::unlink(probe.c_str());
  return ScanFileTarget::kFine;
}

}  // namespace quorvel

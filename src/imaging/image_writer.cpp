#include "imaging/image_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace quorvel {

std::unique_ptr<FileImageWriter> FileImageWriter::Open(const std::string& path, TargetOpenMode mode,
                                                       std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<FileImageWriter> {
    if (error) *error = path + ": " + why;
    return nullptr;
  };
  if (path.empty()) return fail("no path");
  // The type is checked before anything is truncated: O_TRUNC on the wrong
  // kind of file (a FIFO, a device named as a file) must never happen.
  // An image file is never written through a link at its name (a disk may
  // well be named by one, /dev/disk/by-id/...).
  const bool file = mode != TargetOpenMode::kExistingDisk;
  struct stat before {};
  bool exists = (file ? ::lstat(path.c_str(), &before) : ::stat(path.c_str(), &before)) == 0;
  if (file && exists && S_ISLNK(before.st_mode)) return fail("a symbolic link (not followed: name the file itself)");
  if (mode == TargetOpenMode::kExistingDisk) {
    if (!exists) return fail(std::strerror(errno));
    if (!S_ISBLK(before.st_mode) && !S_ISREG(before.st_mode)) return fail("not a disk or an image file");
  } else if (exists && !S_ISREG(before.st_mode)) {
    return fail("not a regular file");
  }
  int flags = O_WRONLY | O_CLOEXEC;
  if (file) flags |= O_CREAT | O_NOFOLLOW;
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (exists && (st.st_dev != before.st_dev || st.st_ino != before.st_ino)) ||
      (mode == TargetOpenMode::kExistingDisk ? !S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode) : !S_ISREG(st.st_mode))) {
    ::close(fd);
    return fail("changed while it was opened");
  }
  if (mode == TargetOpenMode::kNewFile && ::ftruncate(fd, 0) != 0) {
    int e = errno;
    ::close(fd);
    return fail(std::strerror(e));
  }
  return std::unique_ptr<FileImageWriter>(new FileImageWriter(fd, path));
}

FileImageWriter::~FileImageWriter() { ::close(fd_); }

bool FileImageWriter::WriteAt(uint64_t position, std::span<const uint8_t> data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t put = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(position + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error_ = put < 0 ? std::strerror(errno) : "the target took no more bytes";
      return false;
    }
    done += static_cast<size_t>(put);
  }
  StartWriteback(position, data.size());
  return true;
}

void FileImageWriter::StartWriteback(uint64_t position, uint64_t length) {
  // The medium starts taking the image while the copy goes on, so the flush
  // at the end waits for little, and a disk target never piles up gigabytes
  // of dirty cache.
  constexpr uint64_t kStretch = 16ull << 20;
  if (position != dirtyEnd_) {
    dirtyStart_ = position;
    dirtyEnd_ = position;
  }
  dirtyEnd_ = position + length;
  if (dirtyEnd_ - dirtyStart_ < kStretch) return;
  ::sync_file_range(fd_, static_cast<off_t>(dirtyStart_), static_cast<off_t>(dirtyEnd_ - dirtyStart_),
                    SYNC_FILE_RANGE_WRITE);
  dirtyStart_ = dirtyEnd_;
}

bool FileImageWriter::Flush() {
  if (::fdatasync(fd_) == 0) return true;
  error_ = std::strerror(errno);
  return false;
}

bool WriteBlock(ImageWriter& target, std::span<const uint8_t> data, uint64_t position) {
  return target.WriteAt(position, data);
}

}  // namespace quorvel

#include "io/byte_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorvel {

size_t ZeroRest(std::span<uint8_t> buffer, size_t done) {
  if (done < buffer.size()) std::memset(buffer.data() + done, 0, buffer.size() - done);
  return done;
}

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  return "not a regular file or block device";
}

}  // namespace

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<FileSource> {
    if (error) *error = path + ": " + why;
    return nullptr;
  };
  // O_NONBLOCK keeps a FIFO from blocking the open; the type is checked on
  // the opened descriptor, so what is checked is what is read. Sources are
  // never opened for writing.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return fail(std::strerror(e));
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    ::close(fd);
    return fail(std::string("is ") + KindOf(st.st_mode) + ", not a disk or an image file");
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  uint64_t size = static_cast<uint64_t>(st.st_size);
  uint32_t sectorSize = kDefaultSectorSize;
  if (S_ISBLK(st.st_mode)) {
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) size = 0;
    int logical = 0;
    if (::ioctl(fd, BLKSSZGET, &logical) == 0 && logical >= 512 && logical <= 65536)
      sectorSize = static_cast<uint32_t>(logical);
  }
  return std::unique_ptr<FileSource>(new FileSource(fd, path, size, sectorSize, S_ISBLK(st.st_mode)));
}

FileSource::~FileSource() { ::close(fd_); }

size_t FileSource::ReadAt(uint64_t offset, std::span<uint8_t> buffer) const {
  size_t done = 0;
  while (done < buffer.size()) {
    ssize_t got = ::pread(fd_, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // end of the source, or a read error
    done += static_cast<size_t>(got);
  }
  return ZeroRest(buffer, done);
}

size_t FileSource::CopyTo(uint64_t offset, size_t length, int fd, uint64_t fdOffset) const {
  // sendfile writes at the descriptor's own position; the target's writers
  // use explicit offsets, so moving it disturbs nobody.
  if (::lseek(fd, static_cast<off_t>(fdOffset), SEEK_SET) < 0) return 0;
  size_t done = 0;
  while (done < length) {
    off_t from = static_cast<off_t>(offset + done);
    const ssize_t got = ::sendfile(fd, fd_, &from, std::min<size_t>(length - done, 0x40000000));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the end, an error of either side, or a pair the kernel cannot copy
    done += static_cast<size_t>(got);
  }
  return done;
}

size_t MemorySource::ReadAt(uint64_t offset, std::span<uint8_t> buffer) const {
  size_t done = 0;
  if (offset < bytes_.size()) {
    done = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes_.size() - offset));
    std::memcpy(buffer.data(), bytes_.data() + offset, done);
  }
  return ZeroRest(buffer, done);
}

size_t SliceSource::ReadAt(uint64_t offset, std::span<uint8_t> buffer) const {
  if (offset >= length_) return ZeroRest(buffer, 0);
  size_t inside = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length_ - offset));
  size_t done = base_->ReadAt(start_ + offset, buffer.first(inside));
  return ZeroRest(buffer, done);
}

size_t SliceSource::CopyTo(uint64_t offset, size_t length, int fd, uint64_t fdOffset) const {
  if (offset >= length_) return 0;
  return base_->CopyTo(start_ + offset, static_cast<size_t>(std::min<uint64_t>(length, length_ - offset)), fd,
                       fdOffset);
}

}  // namespace quorvel

#include "imaging/direct_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quorvel {

namespace {
constexpr size_t kAlignment = 4096;
}

void AlignedFree::operator()(uint8_t* p) const { std::free(p); }

AlignedBuffer AllocateAligned(size_t length) {
  size_t rounded = (std::max<size_t>(length, 1) + kAlignment - 1) / kAlignment * kAlignment;
  return AlignedBuffer(static_cast<uint8_t*>(std::aligned_alloc(kAlignment, rounded)));
}

std::unique_ptr<DirectSource> DirectSource::Open(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<DirectSource> {
    if (error) *error = path + ": " + why;
    return nullptr;
  };
  // Read-only, always: this is a source.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_DIRECT);
  if (fd < 0) return fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
    ::close(fd);
    return fail("not a block device");
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  uint64_t size = 0;
  int logical = 0;
  if (::ioctl(fd, BLKGETSIZE64, &size) != 0) size = 0;
  if (::ioctl(fd, BLKSSZGET, &logical) != 0 || logical <= 0 || static_cast<size_t>(logical) > kAlignment ||
      (logical & (logical - 1)) != 0)
    logical = 512;
  return std::unique_ptr<DirectSource>(new DirectSource(fd, size, static_cast<uint32_t>(logical)));
}

DirectSource::~DirectSource() { ::close(fd_); }

size_t DirectSource::ReadAligned(uint64_t offset, uint8_t* data, size_t length) const {
  size_t done = 0;
  while (done < length) {
    ssize_t got = ::pread(fd_, data + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
    // Direct reads end on a block boundary; a partial block would misalign
    // the next request, so whatever lies past it counts as unread.
    if (done % alignment_) {
      done -= done % alignment_;
      break;
    }
  }
  return done;
}

size_t DirectSource::ReadAt(uint64_t offset, std::span<uint8_t> buffer) const {
  if (buffer.empty()) return 0;
  const uint64_t a = alignment_;
  uintptr_t address = reinterpret_cast<uintptr_t>(buffer.data());
  if (offset % a == 0 && buffer.size() % a == 0 && address % kAlignment == 0)
    return ZeroRest(buffer, ReadAligned(offset, buffer.data(), buffer.size()));
  // Bounce: the whole blocks around the request, then the wanted part.
  uint64_t first = offset / a * a;
  uint64_t end = (offset + buffer.size() + a - 1) / a * a;
  size_t span = static_cast<size_t>(end - first);
  AlignedBuffer bounce = AllocateAligned(span);
  if (!bounce) return ZeroRest(buffer, 0);
  size_t got = ReadAligned(first, bounce.get(), span);
  size_t lead = static_cast<size_t>(offset - first);
  size_t done = got > lead ? std::min(buffer.size(), got - lead) : 0;
  if (done) std::memcpy(buffer.data(), bounce.get() + lead, done);
  return ZeroRest(buffer, done);
}

}  // namespace quorvel

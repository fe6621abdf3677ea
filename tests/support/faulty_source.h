#pragma once
// A source with unreadable sectors, answering as a failing disk does: a read
// stops at the first bad sector it meets and returns the bytes before it.
#include <unistd.h>

#include <algorithm>
#include <set>
#include <vector>

#include "io/byte_source.h"

namespace quorvel::test {

class FaultySource final : public ByteSource {
 public:
  FaultySource(SharedSource base, std::set<uint64_t> badSectors)
      : base_(std::move(base)), bad_(std::move(badSectors)) {}

  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override {
    const uint64_t first = offset / kDefaultSectorSize;
    const uint64_t last = (offset + buffer.size() + kDefaultSectorSize - 1) / kDefaultSectorSize;
    auto bad = bad_.lower_bound(first);
    if (bad == bad_.end() || *bad >= last) return base_->ReadAt(offset, buffer);
    const uint64_t good = *bad * kDefaultSectorSize > offset ? *bad * kDefaultSectorSize - offset : 0;
    const size_t got = base_->ReadAt(offset, buffer.first(static_cast<size_t>(good)));
    return ZeroRest(buffer, got);
  }
  uint64_t Size() const override { return base_->Size(); }
  // A copy straight into a file, as the kernel's: it stops at the first bad
  // sector, and a short one may stop anywhere, so this one stops 100 bytes
  // before that sector (the caller must take over at a sector boundary).
  size_t CopyTo(uint64_t offset, size_t length, int fd, uint64_t fdOffset) const override {
    std::vector<uint8_t> bytes(length);
    size_t got = ReadAt(offset, bytes);
    if (got < length) got -= std::min<size_t>(got, 100);
    const ssize_t put = ::pwrite(fd, bytes.data(), got, static_cast<off_t>(fdOffset));
    return put < 0 ? 0 : static_cast<size_t>(put);
  }

 private:
  SharedSource base_;
  std::set<uint64_t> bad_;
};

}  // namespace quorvel::test

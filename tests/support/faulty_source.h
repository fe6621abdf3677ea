#pragma once
// A source with unreadable sectors, answering as a failing disk does: a read
// stops at the first bad sector it meets and returns the bytes before it.
#include <set>

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

 private:
  SharedSource base_;
  std::set<uint64_t> bad_;
};

}  // namespace quorvel::test

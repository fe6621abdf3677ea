#pragma once
// A disk read past the page cache. Through the cache a failing sector makes
// the kernel fail the whole page around it, so seven good neighbours would be
// lost with it; reading with O_DIRECT asks the disk for exactly the sectors
// wanted, which is what lets a sector-by-sector pass save every readable one.
#include <memory>
#include <string>

#include "io/byte_source.h"

namespace quorvel {

class DirectSource final : public ByteSource {
 public:
  // Opens a block device read-only with O_DIRECT. Null (error set) when path
  // is not a block device or refuses direct reads; callers then fall back to
  // FileSource.
  static std::unique_ptr<DirectSource> Open(const std::string& path, std::string* error = nullptr);
  ~DirectSource() override;
  DirectSource(const DirectSource&) = delete;
  DirectSource& operator=(const DirectSource&) = delete;

  // Any offset and length: requests that are not aligned to the device's
  // logical block are read through an aligned bounce buffer. A short count
  // means the first failing block (or the end) was reached.
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override;
  uint64_t Size() const override { return size_; }

 private:
  DirectSource(int fd, uint64_t size, uint32_t alignment) : fd_(fd), size_(size), alignment_(alignment) {}
  size_t ReadAligned(uint64_t offset, uint8_t* data, size_t length) const;
  int fd_;
  uint64_t size_;
  uint32_t alignment_;  // logical block size of the device
};

// Allocates length bytes aligned for direct reads (4096); freed with std::free.
struct AlignedFree {
  void operator()(uint8_t* p) const;
};
using AlignedBuffer = std::unique_ptr<uint8_t[], AlignedFree>;
AlignedBuffer AllocateAligned(size_t length);

}  // namespace quorvel

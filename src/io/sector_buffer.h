#pragma once
// A page-aligned, zero-filled read buffer: every buffer a large read lands in
// is one of these. The kernel copies from the page cache into a misaligned
// buffer several times slower, so 10 MiB reads into a plain std::vector
// (malloc puts it 16 bytes past a page) lose most of their speed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

namespace quorvel {

class SectorBuffer {
 public:
  explicit SectorBuffer(size_t size)
      : size_(size), data_(static_cast<uint8_t*>(std::aligned_alloc(kPage, RoundUp(size))), &std::free) {
    if (data_)
      std::memset(data_.get(), 0, RoundUp(size));
    else
      size_ = 0;
  }
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  std::span<uint8_t> span() { return {data_.get(), size_}; }
  std::span<const uint8_t> span() const { return {data_.get(), size_}; }

 private:
  static constexpr size_t kPage = 4096;
  static size_t RoundUp(size_t n) { return (n + kPage - 1) / kPage * kPage; }
  size_t size_;
  std::unique_ptr<uint8_t, decltype(&std::free)> data_;
};

// size bytes of a page-aligned buffer kept for the calling thread and reused
// by the next call: saving thousands of files would otherwise allocate and
// zero a fresh buffer (up to 10 MiB) for each. It holds whatever the last
// read left there, so only one user at a time per thread. Empty when the
// memory cannot be had.
std::span<uint8_t> ThreadReadBuffer(size_t size);

}  // namespace quorvel

#pragma once
// A page-aligned, zero-filled read buffer: every buffer a large read lands in
// is one of these. The kernel copies from the page cache into a misaligned
// buffer several times slower, so 10 MiB reads into a plain std::vector
// (malloc puts it 16 bytes past a page) lose most of their speed. Buffers of
// 1 MiB and more are mapped straight from the system, whose pages are zero
// until first written: a sweep's 10 MiB buffer costs no pass of zeroing
// before its first read.
#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvel {

class SectorBuffer {
 public:
  explicit SectorBuffer(size_t size);
  ~SectorBuffer();
  SectorBuffer(SectorBuffer&& other) noexcept;
  SectorBuffer& operator=(SectorBuffer&& other) noexcept;
  SectorBuffer(const SectorBuffer&) = delete;
  SectorBuffer& operator=(const SectorBuffer&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  std::span<uint8_t> span() { return {data_, size_}; }
  std::span<const uint8_t> span() const { return {data_, size_}; }

 private:
  void Release();
  size_t size_ = 0;
  size_t mapped_ = 0;  // bytes mapped for a large buffer; 0 for one from the heap
  uint8_t* data_ = nullptr;
};

// size bytes of a page-aligned buffer kept for the calling thread and reused
// by the next call: saving thousands of files would otherwise allocate and
// zero a fresh buffer (up to 10 MiB) for each. It holds whatever the last
// read left there, so only one user at a time per thread. Empty when the
// memory cannot be had.
std::span<uint8_t> ThreadReadBuffer(size_t size);

}  // namespace quorvel

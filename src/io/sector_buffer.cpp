#include "io/sector_buffer.h"

#include <sys/mman.h>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace quorvel {

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kMappedFrom = size_t{1} << 20;

}  // namespace

SectorBuffer::SectorBuffer(size_t size) {
  if (size == 0) return;
  const size_t rounded = (size + kPage - 1) / kPage * kPage;
  if (rounded >= kMappedFrom) {
    void* memory = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    data_ = static_cast<uint8_t*>(memory);
    mapped_ = rounded;
  } else {
    data_ = static_cast<uint8_t*>(std::aligned_alloc(kPage, rounded));
    if (!data_) return;
    std::memset(data_, 0, rounded);
  }
  size_ = size;
}

SectorBuffer::~SectorBuffer() { Release(); }

SectorBuffer::SectorBuffer(SectorBuffer&& other) noexcept
    : size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)),
      data_(std::exchange(other.data_, nullptr)) {}

SectorBuffer& SectorBuffer::operator=(SectorBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

void SectorBuffer::Release() {
  if (mapped_)
    ::munmap(data_, mapped_);
  else
    std::free(data_);
  data_ = nullptr;
  size_ = 0;
  mapped_ = 0;
}

std::span<uint8_t> ThreadReadBuffer(size_t size) {
  thread_local SectorBuffer buffer(0);
  if (buffer.size() < size) {
    buffer = SectorBuffer(0);  // the old one goes first: both need not fit at once
    buffer = SectorBuffer(size);
    if (buffer.size() < size) return {};
  }
  return buffer.span().first(size);
}

}  // namespace quorvel

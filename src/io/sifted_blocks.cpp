#include "io/sifted_blocks.h"

#include <algorithm>
#include <system_error>

#include "io/careful_read.h"

namespace quorvel {

namespace {

constexpr size_t kSector = 512;
constexpr size_t kPage = 4096;
constexpr uint64_t kPieceSectors = 512;  // 256 KiB: sifted while in the processor's cache

}  // namespace

SiftedBlocks::SiftedBlocks(const ByteSource& source, uint64_t startSector, uint64_t sectorCount,
                           const SiftedBlockShape& shape, SectorSift sift, const std::atomic<int>& stopFlag)
    : source_(source),
      startSector_(startSector),
      sectorCount_(sectorCount),
      blockSectors_(std::max<uint64_t>(shape.blockSectors, 1)),
      extraSectors_(shape.extraSectors),
      sift_(sift),
      stopFlag_(stopFlag),
      blocks_(sectorCount / blockSectors_ + (sectorCount % blockSectors_ != 0)) {
  // A block starts as far into its page as its first sector's position is
  // into a page: the kernel copies from the page cache several times faster
  // when the two line up (blocks are whole pages apart on the disk).
  const size_t phase = static_cast<size_t>((startSector * kSector) % kPage);
  const unsigned slots = blocks_ > 1 ? kSlots : 1;
  for (unsigned i = 0; i < slots; ++i) {
    slots_[i].memory = SectorBuffer(kPage + (blockSectors_ + extraSectors_) * kSector);
    if (slots_[i].memory.size() == 0) return;
    slots_[i].data = slots_[i].memory.data() + phase;
  }
  ok_ = true;
  if (blocks_ < 2) return;  // one block is read when it is asked for
  // Readers claim blocks in order from a shared count, so however many of
  // them start, every block is read; with none, blocks are read when asked for.
  try {
    for (unsigned r = 0; r < kReaders; ++r) readers_.emplace_back([this] { Read(); });
  } catch (const std::system_error&) {
  }
}

SiftedBlocks::~SiftedBlocks() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : readers_) t.join();
}

uint64_t SiftedBlocks::SectorsOf(uint64_t index) const {
  return std::min(blockSectors_, sectorCount_ - index * blockSectors_);
}

bool SiftedBlocks::Fill(uint64_t index) {
  Slot& slot = slots_[index % kSlots];
  const uint64_t first = startSector_ + index * blockSectors_;
  const uint64_t sectors = SectorsOf(index);
  slot.candidates.clear();
  const uint64_t total = sectors + extraSectors_;
  for (uint64_t read = 0; read < total; read += kPieceSectors) {
    if (Stopping()) return false;
    const uint64_t piece = std::min(kPieceSectors, total - read);
    // What cannot be read is zero; the sectors after it still count.
    const std::span<uint8_t> into(slot.data + read * kSector, piece * kSector);
    if (first + read <= UINT64_MAX / kSector)
      ReadCarefully(source_, (first + read) * kSector, into, into.size(), UINT64_MAX, kSector);
    else
      ZeroRest(into, 0);
    for (uint64_t i = read; i < std::min(read + piece, sectors); ++i)
      if (sift_(slot.data + i * kSector)) slot.candidates.push_back(static_cast<uint32_t>(i));
  }
  return true;
}

void SiftedBlocks::Read() {
  for (;;) {
    uint64_t index;
    {
      // The next block's slot is free once the scan released the block it
      // held before.
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return quit_ || Stopping() || claimed_ >= blocks_ || claimed_ < released_ + kSlots; });
      if (quit_ || Stopping() || claimed_ >= blocks_) break;
      index = claimed_++;
    }
    if (!Fill(index)) break;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slots_[index % kSlots].ready = index;
    }
    changed_.notify_all();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++readersDone_;
  }
  changed_.notify_all();
}

bool SiftedBlocks::Take(uint64_t index, Block& block) {
  Slot& slot = slots_[index % kSlots];
  if (readers_.empty()) {
    if (!Fill(index)) return false;
  } else {
    std::unique_lock<std::mutex> lock(mutex_);
    // A reader that ends early (a stop) ends before this block is read.
    changed_.wait(lock, [&] { return slot.ready == index || readersDone_ == readers_.size(); });
    if (slot.ready != index) return false;
  }
  block.data = slot.data;
  block.candidates = &slot.candidates;
  return true;
}

void SiftedBlocks::Release(uint64_t index) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = index + 1;
  }
  changed_.notify_all();
}

}  // namespace quorvel

#pragma once
// The deep scan's 10 MiB blocks, read on two threads of their own while the
// scan tests the blocks before them in order. Each reader fills a block in
// 256 KiB pieces and, while a piece is still in its processor's cache, notes
// the sectors in which a test may find anything (SectorMayMatter); the scan
// tests those and nothing else. The kernel's copy from the page cache, most
// of a sweep's time, so runs on both processors. Each block's buffer also
// holds the next block's first sector, so that a 1024-byte record starting in
// a block's last sector is whole. Without threads, blocks are read when the
// scan asks for them.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "io/byte_source.h"
#include "io/sector_buffer.h"

namespace quorvel {

class DeepScanBlocks {
 public:
  // The sectors [startSector, startSector + sectorCount) of source (offsets
  // sector × 512) in blocks of blockSectors; reading ends once stopFlag is
  // non-zero.
  DeepScanBlocks(const ByteSource& source, uint64_t startSector, uint64_t sectorCount, uint64_t blockSectors,
                 const std::atomic<int>& stopFlag);
  ~DeepScanBlocks();
  DeepScanBlocks(const DeepScanBlocks&) = delete;
  DeepScanBlocks& operator=(const DeepScanBlocks&) = delete;

  // False when the buffers could not be had.
  bool ok() const { return ok_; }
  uint64_t count() const { return blocks_; }

  struct Block {
    const uint8_t* data = nullptr;  // sector i at data + i × 512, the next block's first after the last
    const std::vector<uint32_t>* candidates = nullptr;  // ascending sector indexes worth testing
  };
  // Waits for block `index` (blocks are taken in order, each released before
  // the next is taken); false when the reading stopped first.
  bool Take(uint64_t index, Block& block);
  // The scan is done with block `index`: its buffer may take another block.
  void Release(uint64_t index);

 private:
  static constexpr unsigned kSlots = 4;
  static constexpr unsigned kReaders = 2;
  struct Slot {
    SectorBuffer memory{0};
    uint8_t* data = nullptr;
    std::vector<uint32_t> candidates;
    uint64_t ready = UINT64_MAX;  // the block the slot holds, once read
  };
  uint64_t SectorsOf(uint64_t index) const;
  bool Stopping() const { return stopFlag_.load(std::memory_order_relaxed) != 0; }
  // Reads and sifts block index into its slot; false when stopped midway.
  bool Fill(uint64_t index);
  void Read(unsigned reader);

  const ByteSource& source_;
  uint64_t startSector_;
  uint64_t sectorCount_;
  uint64_t blockSectors_;
  const std::atomic<int>& stopFlag_;
  uint64_t blocks_ = 0;
  bool ok_ = false;
  Slot slots_[kSlots];
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t released_ = 0;  // blocks the scan is done with
  unsigned readersDone_ = 0;
  bool quit_ = false;
  std::vector<std::thread> readers_;
};

}  // namespace quorvel

#pragma once
// A sweep's blocks, read on two threads of their own while the sweep tests
// the blocks before them in order. Each reader fills a block in 256 KiB
// pieces (carefully: a short read goes on sector by sector, so the sectors
// after an unreadable one still arrive) and, while a piece is still in its
// processor's cache, notes the sectors the sweep's sift lets through; the
// sweep looks at those and nothing else. The kernel's copy from the page
// cache, most of a sweep's time, so runs on both processors. A block's buffer
// may also hold the next block's first sectors (a record that starts in a
// block's last sector is then whole). Without threads, blocks are read when
// the sweep asks for them.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "io/byte_source.h"
#include "io/sector_buffer.h"

namespace quorvel {

// True for a sector (512 bytes, the buffer goes on past it) worth the
// sweep's look. Called on the reading threads: it must not touch anything
// but the bytes.
using SectorSift = bool (*)(const uint8_t* sector);

struct SiftedBlockShape {
  uint64_t blockSectors = 20480;  // 10 MiB
  uint64_t extraSectors = 0;      // of the next block, read after each block
};

class SiftedBlocks {
 public:
  // The sectors [startSector, startSector + sectorCount) of source (offsets
  // sector × 512) in blocks of shape.blockSectors, sifted by sift; reading
  // ends once stopFlag is non-zero.
  SiftedBlocks(const ByteSource& source, uint64_t startSector, uint64_t sectorCount, const SiftedBlockShape& shape,
               SectorSift sift, const std::atomic<int>& stopFlag);
  ~SiftedBlocks();
  SiftedBlocks(const SiftedBlocks&) = delete;
  SiftedBlocks& operator=(const SiftedBlocks&) = delete;

  // False when the buffers could not be had.
  bool ok() const { return ok_; }
  uint64_t count() const { return blocks_; }

  struct Block {
    const uint8_t* data = nullptr;                      // sector i at data + i × 512, the extra sectors after the last
    const std::vector<uint32_t>* candidates = nullptr;  // ascending indexes of the sectors the sift let through
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
  void Read();

  const ByteSource& source_;
  uint64_t startSector_;
  uint64_t sectorCount_;
  uint64_t blockSectors_;
  uint64_t extraSectors_;
  SectorSift sift_;
  const std::atomic<int>& stopFlag_;
  uint64_t blocks_ = 0;
  bool ok_ = false;
  Slot slots_[kSlots];
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t claimed_ = 0;   // blocks a reader has taken on
  uint64_t released_ = 0;  // blocks the scan is done with
  unsigned readersDone_ = 0;
  bool quit_ = false;
  std::vector<std::thread> readers_;
};

}  // namespace quorvel

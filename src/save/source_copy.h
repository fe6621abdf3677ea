#pragma once
// Copying a stretch of source sectors into a target file in blocks.
#include <cstdint>
#include <functional>

#include "save/save_engines.h"

namespace quorvel {

struct CopyResult {
  uint64_t written = 0;
  bool stopped = false;
  bool writeFailed = false;
};

// Copies size bytes from an absolute sector into file at its current
// position, reading blockBytes (a whole number of sectors) at a time. After
// each block afterBlock(written so far) runs, then the stop flag is checked.
CopyResult CopySourceRange(const PartitionRecord& partition, SectorDevice* device, uint64_t sector, uint64_t size,
                           TargetFile& file, size_t blockBytes, ScanProgress& progress,
                           const std::function<void(uint64_t)>& afterBlock);

// Lower-case ASCII copy of text.
std::string LowerAscii(const std::string& text);

}  // namespace quorvel

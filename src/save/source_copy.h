#pragma once
// Copying a stretch of source sectors into a target file in blocks.
#include <cstdint>
#include <functional>

#include "save/file_data.h"
#include "save/save_engines.h"

namespace quorvel {

struct CopyResult {
  uint64_t written = 0;
  bool stopped = false;
  bool writeFailed = false;
};

// Bytes per sector of the job's partition (512 when unset).
uint64_t JobSectorBytes(const SaveJob& job);

// Copies size bytes from a sector of the job's source into file at its
// current position, reading blockBytes (a whole number of sectors) at a
// time; what arrives is tallied (file offsets from the file's current
// position); nothing is read at or past limit. After each block
// afterBlock(written so far) runs, then the stop flag is checked.
CopyResult CopySourceRange(const SaveJob& job, uint64_t sector, uint64_t size, TargetFile& file, size_t blockBytes,
                           uint64_t limit, FileDataTally& tally, const std::function<void(uint64_t)>& afterBlock);

// Lower-case ASCII copy of text.
std::string LowerAscii(const std::string& text);

}  // namespace quorvel

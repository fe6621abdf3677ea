#pragma once
// Reading data whose every byte counts (a file being saved, bytes shown to
// the user): nothing is read at or past a limit (the end of the partition or
// of the source), and a read that comes back short is tried again sector by
// sector, so the readable sectors after an unreadable one still arrive.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "io/byte_source.h"

namespace quorvel {

// What arrived of the first `counted` bytes of a careful read.
struct CarefulReadResult {
  uint64_t read = 0;  // bytes read
  uint64_t end = 0;   // end of the last byte read (0 when none was)
  bool Complete(uint64_t counted) const { return read == counted; }
};

// A stretch of a buffer that could not be read: offset in the buffer, length.
struct ReadGap {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Reads buffer at offset of source. Bytes at or past limit are not read;
// a short read is retried in sectorBytes pieces from the first piece that did
// not arrive. Everything not read is zero. The result counts the first
// `counted` bytes of buffer (counted <= buffer.size()); gaps, when given,
// receives the stretches of those that did not arrive, in order.
CarefulReadResult ReadCarefully(const ByteSource& source, uint64_t offset, std::span<uint8_t> buffer, size_t counted,
                                uint64_t limit, uint64_t sectorBytes, std::vector<ReadGap>* gaps = nullptr);

// The end of what a partition's data may be read from: its last byte + 1 in
// the source its sectors count in, or the source's end if that comes first
// (a partition whose table entry claims more than the disk holds).
uint64_t PartitionReadLimit(const ByteSource& source, uint64_t startSector, uint64_t sectorCount, uint64_t sectorBytes);

}  // namespace quorvel

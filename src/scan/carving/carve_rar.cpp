// RAR 4 archives: a chain of blocks, each with its type and header size, and
// for long blocks the size of the data that follows; the end-of-archive block
// closes it.
#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"
#include "scan/carving/rar_block_layout.h"

namespace quorvel {

bool IsRarStart(ByteView head) { return head.Matches(0, RarBlock::kMarkerBlock); }

CarveFinding CarveRar(const CarveInput& input) {
  CarveWindow window(input.source, input.startSector, input.head);
  uint64_t position = 0;
  while (position < kCarveArchiveLimit) {
    const ByteView at = window.At(position);
    const uint8_t type = at.U8(RarBlock::kType);
    const uint16_t headSize = at.Le16(RarBlock::kHeadSize);
    if (type < RarBlock::kMarkerType || type > RarBlock::kEndOfArchiveType || headSize < RarBlock::kSmallestHead)
      return {};
    uint64_t next = position + headSize;
    if (at.Le16(RarBlock::kFlags) & RarBlock::kLongBlock) next += at.Le32(RarBlock::kDataSize);
    if (type == RarBlock::kEndOfArchiveType) return Found(next, "rar");
    position = next;
  }
  return {};
}

}  // namespace quorvel

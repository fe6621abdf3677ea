// RAR 4 archives: a chain of blocks, each with its type and header size, and
// for long blocks the size of the data that follows; the end-of-archive block
// closes it.
#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"

namespace quorvel {

namespace {

constexpr uint8_t kFirstBlockType = 0x72;  // the marker block
constexpr uint8_t kEndOfArchive = 0x7B;
constexpr uint16_t kLongBlock = 0x8000;
constexpr uint16_t kSmallestHeader = 7;

}  // namespace

bool IsRarStart(ByteView head) { return head.Matches(0, std::string_view("Rar!\x1A\x07\x00", 7)); }

CarveFinding CarveRar(const CarveInput& input) {
  CarveWindow window(input.source, input.startSector, input.head);
  uint64_t position = 0;
  while (position < kCarveArchiveLimit) {
    const ByteView at = window.At(position);
    const uint8_t type = at.U8(2);
    const uint16_t headerSize = at.Le16(5);
    if (type < kFirstBlockType || type > kEndOfArchive || headerSize < kSmallestHeader) return {};
    uint64_t next = position + headerSize;
    if (at.Le16(3) & kLongBlock) next += at.Le32(7);
    if (type == kEndOfArchive) return Found(next, "rar");
    position = next;
  }
  return {};
}

}  // namespace quorvel

#pragma once
// The table of contents of a dynamic disk's database area ("TOCBLOCK", one
// 512-byte sector, big-endian). Windows keeps copies 2 sectors into the area
// and 3 sectors before its end (older versions one more right before each).
// It names two regions of the area, each with a start and a size in sectors
// counted from the area's start: "config", which begins with the database
// header (VMDB) and holds the records, and "log".
#include <cstddef>
#include <cstdint>

namespace quorvel::LdmTocBlock {

constexpr size_t kSize = 512;
constexpr size_t kMagic = 0x00;           // "TOCBLOCK"
constexpr size_t kSequence = 0x08;        // 32-bit
constexpr size_t kConfigRegion = 0x24;    // a region entry, below
constexpr size_t kLogRegion = 0x46;       // a region entry
constexpr uint64_t kFirstCopySector = 2;  // from the area's start
constexpr uint64_t kLastCopyFromEnd = 3;  // sectors before the area's end

}  // namespace quorvel::LdmTocBlock

// One region entry of the table.
namespace quorvel::LdmTocRegion {

constexpr size_t kName = 0x00;  // NUL-padded text: "config" or "log"
constexpr size_t kNameWidth = 8;
constexpr size_t kStart = 0x0A;  // 64-bit sector, from the database area's start
constexpr size_t kSize = 0x12;   // 64-bit sectors
constexpr size_t kFlags = 0x1A;  // 16-bit

}  // namespace quorvel::LdmTocRegion

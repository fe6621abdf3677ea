#pragma once
// One entry of an Apple partition map (big-endian), one per block from block
// 1 on; every entry repeats the map's entry count.
#include <cstddef>
#include <cstdint>

namespace quorvel::AppleMapEntry {

constexpr size_t kSignature = 0;      // "PM"
constexpr size_t kMapEntryCount = 4;  // 32-bit: entries in the whole map
constexpr size_t kFirstBlock = 8;     // 32-bit: the partition's first block
constexpr size_t kBlockCount = 12;    // 32-bit
constexpr size_t kName = 16;          // NUL-terminated text
constexpr size_t kType = 48;          // NUL-terminated text: "Apple_HFS", ...
constexpr size_t kTextWidth = 32;     // room for the name and for the type

}  // namespace quorvel::AppleMapEntry

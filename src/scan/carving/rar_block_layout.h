#pragma once
// The head of a block of a RAR 4 archive (little-endian). Every block has
// these 7 bytes; a block whose flags carry kLongBlock is followed by data
// whose size stands right behind them.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel::RarBlock {

constexpr size_t kCrc = 0;       // 16-bit
constexpr size_t kType = 2;      // 8-bit: 0x72 marker ... 0x7B end of archive
constexpr size_t kFlags = 3;     // 16-bit
constexpr size_t kHeadSize = 5;  // 16-bit bytes of the whole head, these 7 included
constexpr size_t kDataSize = 7;  // 32-bit, in long blocks
constexpr uint16_t kLongBlock = 0x8000;
constexpr uint16_t kSmallestHead = 7;

constexpr uint8_t kMarkerType = 0x72;  // the first block, always these bytes:
constexpr std::string_view kMarkerBlock("Rar!\x1A\x07\x00", 7);
constexpr uint8_t kEndOfArchiveType = 0x7B;

}  // namespace quorvel::RarBlock

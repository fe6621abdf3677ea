#pragma once
// One 128-byte entry of a compound document's directory (little-endian): a
// stream or storage, its UTF-16 name and where its data starts.
#include <cstddef>
#include <cstdint>

namespace quorvel::Ole2DirectoryEntry {

constexpr size_t kSize = 128;
constexpr size_t kName = 0x00;         // up to 32 UTF-16 units, NUL-terminated
constexpr size_t kNameBytes = 0x40;    // 16-bit: the name's length with its NUL
constexpr size_t kType = 0x42;         // 8-bit: 1 storage, 2 stream, 5 root
constexpr size_t kStartSector = 0x74;  // 32-bit
constexpr size_t kStreamSize = 0x78;   // 64-bit bytes

}  // namespace quorvel::Ole2DirectoryEntry

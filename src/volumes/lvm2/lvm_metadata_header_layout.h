#pragma once
// The header at the start of an LVM2 metadata area (one sector,
// little-endian): the area's place and size, then where the current metadata
// text lies, relative to the area.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel::LvmMetadataHeader {

constexpr size_t kChecksum = 0;  // 32-bit
constexpr size_t kMagic = 4;     // kMagicText
constexpr std::string_view kMagicText = " LVM2 x[5A%r0N*>";
constexpr size_t kVersion = 20;       // 32-bit
constexpr size_t kAreaStart = 24;     // 64-bit bytes from the disk's start
constexpr size_t kAreaSize = 32;      // 64-bit bytes
constexpr size_t kTextOffset = 40;    // 64-bit bytes from the area's start
constexpr size_t kTextLength = 48;    // 64-bit bytes
constexpr size_t kTextChecksum = 56;  // 32-bit

}  // namespace quorvel::LvmMetadataHeader

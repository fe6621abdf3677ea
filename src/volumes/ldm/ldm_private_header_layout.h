#pragma once
// A dynamic disk's private header ("PRIVHEAD", one 512-byte sector,
// big-endian): which disk and group it is, where the disk's data area and the
// group's database lie.
#include <cstddef>
#include <cstdint>

namespace quorvel::LdmPrivateHeader {

constexpr size_t kSize = 512;
constexpr size_t kMagic = 0x00;         // "PRIVHEAD"
constexpr size_t kVersionMajor = 0x0C;  // 16-bit; 2
constexpr size_t kVersionMinor = 0x0E;  // 16-bit; 11 or 12
constexpr size_t kDiskGuid = 0x30;      // text, "xxxxxxxx-xxxx-..." NUL-padded
constexpr size_t kHostGuid = 0x70;      // text; not read
constexpr size_t kGroupGuid = 0xB0;     // text
constexpr size_t kGroupName = 0xF0;     // text
constexpr size_t kGuidTextWidth = 64;   // room each GUID text has
constexpr size_t kGroupNameWidth = 32;
constexpr size_t kLogicalDiskStart = 0x11B;  // 64-bit sector: the data area
constexpr size_t kLogicalDiskSize = 0x123;   // 64-bit sectors
constexpr size_t kConfigStart = 0x12B;       // 64-bit sector: the database area
constexpr size_t kConfigSize = 0x133;        // 64-bit sectors

}  // namespace quorvel::LdmPrivateHeader

#pragma once
// An LVM2 physical volume's label (sector 1 of the disk, little-endian): the
// label header, then the physical-volume header with the volume's UUID and
// its lists of data and metadata areas. pvcreate writes one data area, its
// list's end, then the first metadata area, at the fixed places below.
#include <cstddef>
#include <cstdint>

namespace quorvel::LvmLabel {

constexpr size_t kMagic = 0;           // "LABELONE"
constexpr size_t kSectorNumber = 8;    // 64-bit: the sector the label lies in
constexpr size_t kChecksum = 16;       // 32-bit
constexpr size_t kContentOffset = 20;  // 32-bit: the physical-volume header, from the label
constexpr size_t kType = 24;           // "LVM2 001"
constexpr size_t kPvUuid = 32;         // 32 characters, no dashes
constexpr size_t kPvUuidLength = 32;
constexpr size_t kDeviceSize = 64;            // 64-bit bytes
constexpr size_t kFirstDataArea = 72;         // 64-bit offset and size; a zero pair ends the list
constexpr size_t kFirstMetadataOffset = 104;  // 64-bit bytes from the disk's start
constexpr size_t kFirstMetadataSize = 112;    // 64-bit bytes

}  // namespace quorvel::LvmLabel

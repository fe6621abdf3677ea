#pragma once
// The EXT2/3/4 superblock (1024 bytes, 1024 bytes into the volume): byte
// offsets of the fields read.
#include <cstddef>
#include <cstdint>

namespace quorvel::ExtSuperblock {

constexpr size_t kOffsetInVolume = 1024;
constexpr size_t kSize = 1024;
constexpr size_t kInodesCount = 0x00;      // 32-bit
constexpr size_t kBlocksCount = 0x04;      // 32-bit, low half
constexpr size_t kFreeBlocksCount = 0x0C;  // 32-bit, low half
constexpr size_t kFreeInodesCount = 0x10;  // 32-bit
constexpr size_t kFirstDataBlock = 0x14;   // 32-bit
constexpr size_t kLogBlockSize = 0x18;     // 32-bit: block size = 1024 << value
constexpr size_t kBlocksPerGroup = 0x20;   // 32-bit
constexpr size_t kInodesPerGroup = 0x28;   // 32-bit
constexpr size_t kLastMountTime = 0x2C;    // 32-bit
constexpr size_t kLastWriteTime = 0x30;    // 32-bit
constexpr size_t kMagic = 0x38;            // 16-bit
constexpr uint16_t kMagicValue = 0xEF53;
constexpr size_t kCreatorOs = 0x48;           // 32-bit; 0 = Linux
constexpr size_t kInodeSize = 0x58;           // 16-bit
constexpr size_t kCompatibleFeatures = 0x5C;  // 32-bit
constexpr uint32_t kHasJournal = 0x4;
constexpr size_t kIncompatibleFeatures = 0x60;  // 32-bit
constexpr uint32_t kExtents = 0x40;
constexpr size_t kVolumeName = 0x78;  // 16 bytes
constexpr size_t kVolumeNameLength = 16;
constexpr size_t kBlocksCountHigh = 0x150;      // 32-bit
constexpr size_t kFreeBlocksCountHigh = 0x158;  // 32-bit

}  // namespace quorvel::ExtSuperblock

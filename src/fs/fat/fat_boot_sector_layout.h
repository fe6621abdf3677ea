#pragma once
// The FAT16 and FAT32 fields that follow the shared BIOS parameter block
// (fs/boot_sector_layout.h).
#include <cstddef>

namespace quorvel::FatBoot {

// FAT32.
constexpr size_t kFat32Size = 0x24;         // 32-bit: sectors per FAT
constexpr size_t kRootCluster = 0x2C;       // 32-bit
constexpr size_t kBackupBootSector = 0x32;  // 16-bit
constexpr size_t kFat32TypeName = 0x52;     // "FAT32"
// FAT16.
constexpr size_t kFat16TypeName = 0x36;  // "FAT16"

}  // namespace quorvel::FatBoot

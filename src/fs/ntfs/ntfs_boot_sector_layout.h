#pragma once
// The NTFS fields that follow the shared BIOS parameter block
// (fs/boot_sector_layout.h).
#include <cstddef>

namespace quorvel::NtfsBoot {

constexpr size_t kTotalSectors = 0x28;            // 64-bit
constexpr size_t kMftCluster = 0x30;              // 64-bit
constexpr size_t kMftMirrorCluster = 0x38;        // 64-bit
constexpr size_t kClustersPerRecord = 0x40;       // 8-bit signed: > 0 clusters, < 0 a record of 2^-n bytes
constexpr size_t kClustersPerIndexRecord = 0x44;  // read as 32-bit, as the index readers expect

}  // namespace quorvel::NtfsBoot

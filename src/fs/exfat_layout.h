#pragma once
// The exFAT boot sector fields read, and the volume-label directory entry.
#include <cstddef>
#include <cstdint>

namespace quorvel::ExfatBoot {

constexpr size_t kMustBeZero = 0x0B;  // 53 bytes where FAT keeps its parameter block
constexpr size_t kMustBeZeroEnd = 0x40;
constexpr size_t kVolumeLength = 0x48;            // 64-bit, in sectors
constexpr size_t kClusterHeapOffset = 0x58;       // 32-bit, in sectors
constexpr size_t kRootCluster = 0x60;             // 32-bit
constexpr size_t kBytesPerSectorShift = 0x6C;     // 8-bit
constexpr size_t kSectorsPerClusterShift = 0x6D;  // 8-bit

}  // namespace quorvel::ExfatBoot

namespace quorvel::ExfatEntry {

constexpr size_t kSize = 32;
constexpr size_t kType = 0x00;
constexpr uint8_t kVolumeLabelType = 0x83;
constexpr size_t kLabelLength = 0x01;  // UTF-16 units, at most 15
constexpr size_t kLabel = 0x02;
constexpr size_t kMaxLabelUnits = 15;

}  // namespace quorvel::ExfatEntry

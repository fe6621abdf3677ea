#pragma once
// The HFS master directory block and the HFS+ / HFSX volume header (both
// 1024 bytes into the volume): byte offsets of the fields read.
#include <cstddef>
#include <cstdint>

namespace quorvel::HfsHeader {

constexpr size_t kOffsetInVolume = 1024;
constexpr size_t kSignature = 0x00;             // 16-bit, read little-endian below
constexpr uint16_t kHfsSignature = 0x4442;      // "BD"
constexpr uint16_t kHfsPlusSignature = 0x2B48;  // "H+"
constexpr uint16_t kHfsxSignature = 0x5848;     // "HX"
// HFS master directory block.
constexpr size_t kVolumeNameLength = 0x24;  // 8-bit
constexpr size_t kVolumeName = 0x25;        // at most 27 bytes
constexpr size_t kMaxVolumeName = 27;
constexpr size_t kEmbeddedSignature = 0x7C;  // 16-bit: "H+" when an HFS+ volume is wrapped inside

}  // namespace quorvel::HfsHeader

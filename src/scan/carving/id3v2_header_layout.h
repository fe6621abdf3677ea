#pragma once
// The ID3v2 tag header that may open an MP3 file: its size is a 28-bit
// number stored 7 bits to a byte ("sync-safe"), big-endian, not counting the
// 10-byte header itself.
#include <cstddef>
#include <cstdint>

namespace quorvel::Id3v2Header {

constexpr size_t kMagic = 0;    // "ID3"
constexpr size_t kVersion = 3;  // 8-bit major, 8-bit revision
constexpr size_t kFlags = 5;    // 8-bit
constexpr size_t kSize = 6;     // 4 bytes of 7 bits each, most significant first
constexpr size_t kSizeBytes = 4;
constexpr uint64_t kHeaderBytes = 10;

}  // namespace quorvel::Id3v2Header

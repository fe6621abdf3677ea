#pragma once
// The header of a RIFF file (AVI, and WAVE and others alike; little-endian):
// the size of what follows the first 8 bytes, the form type, the first chunk.
#include <cstddef>
#include <cstdint>

namespace quorvel::RiffHeader {

constexpr size_t kMagic = 0;        // "RIFF"
constexpr size_t kSize = 4;         // 32-bit bytes after this field
constexpr size_t kFormType = 8;     // "AVI ", ...
constexpr size_t kFirstChunk = 12;  // the first chunk's id: "LIST" in an AVI
constexpr uint64_t kUncounted = 8;  // "RIFF" and the size field

}  // namespace quorvel::RiffHeader

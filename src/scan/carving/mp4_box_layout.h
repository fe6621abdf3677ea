#pragma once
// The head of a box of an ISO base media file (MP4, and MOV and 3GP alike;
// big-endian): its size, which counts the head, and its four-letter type. A
// size of 0 runs to the file's end; 1 means a 64-bit size follows the type.
#include <cstddef>
#include <cstdint>

namespace quorvel::Mp4Box {

constexpr size_t kSize = 0;       // 32-bit bytes
constexpr size_t kType = 4;       // "ftyp", "moov", "mdat", "free", ...
constexpr size_t kLargeSize = 8;  // 64-bit, when kSize is 1

}  // namespace quorvel::Mp4Box

#pragma once
// Block 0 of an Apple-partitioned disk, the driver descriptor (big-endian):
// the block size the partition map counts in.
#include <cstddef>
#include <cstdint>

namespace quorvel::AppleDriverDescriptor {

constexpr size_t kSignature = 0;   // "ER"
constexpr size_t kBlockSize = 2;   // 16-bit bytes
constexpr size_t kBlockCount = 4;  // 32-bit

}  // namespace quorvel::AppleDriverDescriptor

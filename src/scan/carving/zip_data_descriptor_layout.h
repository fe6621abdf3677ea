#pragma once
// The ZIP data descriptor that may follow a member's data (little-endian):
// the signature, the CRC and the compressed and plain sizes.
#include <cstddef>
#include <cstdint>

namespace quorvel::ZipDataDescriptor {

constexpr uint32_t kSignatureValue = 0x08074B50;  // "PK\7\x08"
constexpr size_t kSignature = 0;                  // 32-bit
constexpr size_t kCrc = 4;                        // 32-bit
constexpr uint64_t kSize = 16;                    // with the signature

}  // namespace quorvel::ZipDataDescriptor

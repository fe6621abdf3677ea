#pragma once
// A ZIP local file header (little-endian): 30 fixed bytes, then the name,
// the extra field and the member's compressed data.
#include <cstddef>
#include <cstdint>

namespace quorvel::ZipLocalHeader {

constexpr uint32_t kSignatureValue = 0x04034B50;  // "PK\3\4"
constexpr size_t kSignature = 0;                  // 32-bit
constexpr size_t kCompressedSize = 18;            // 32-bit
constexpr size_t kNameLength = 26;                // 16-bit
constexpr size_t kExtraLength = 28;               // 16-bit
constexpr size_t kName = 30;
constexpr uint64_t kFixedSize = 30;

}  // namespace quorvel::ZipLocalHeader

#pragma once
// A ZIP central-directory file header (little-endian): 46 fixed bytes, then
// the name, the extra field and the comment.
#include <cstddef>
#include <cstdint>

namespace quorvel::ZipCentralHeader {

constexpr uint32_t kSignatureValue = 0x02014B50;  // "PK\1\2"
constexpr size_t kSignature = 0;                  // 32-bit
constexpr size_t kNameLength = 28;                // 16-bit
constexpr size_t kExtraLength = 30;               // 16-bit
constexpr size_t kCommentLength = 32;             // 16-bit
constexpr size_t kName = 46;
constexpr uint64_t kFixedSize = 46;

}  // namespace quorvel::ZipCentralHeader

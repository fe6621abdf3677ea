#pragma once
// The ZIP end-of-central-directory record (little-endian): 22 fixed bytes,
// then the archive's comment, which ends the file.
#include <cstddef>
#include <cstdint>

namespace quorvel::ZipEndOfDirectory {

constexpr uint32_t kSignatureValue = 0x06054B50;  // "PK\5\6"
constexpr size_t kSignature = 0;                  // 32-bit
constexpr size_t kCommentLength = 20;             // 16-bit
constexpr uint64_t kFixedSize = 22;

}  // namespace quorvel::ZipEndOfDirectory

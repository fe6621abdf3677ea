#pragma once
// The GUID partition table: the header (at the sector the protective MBR
// entry names) and its partition entries.
#include <cstddef>
#include <cstdint>

namespace quorvel::GptHeader {

constexpr size_t kSignature = 0x00;   // "EFI PART"
constexpr size_t kEntriesLba = 0x48;  // 64-bit
constexpr size_t kEntryCount = 0x50;  // 32-bit
constexpr size_t kEntrySize = 0x54;   // 32-bit

}  // namespace quorvel::GptHeader

namespace quorvel::GptEntry {

constexpr size_t kTypeGuid = 0x00;  // 16 bytes
constexpr size_t kFirstLba = 0x20;  // 64-bit
constexpr size_t kLastLba = 0x28;   // 64-bit, inclusive
constexpr size_t kName = 0x38;      // 36 UTF-16 units
constexpr size_t kNameUnits = 36;
constexpr size_t kMinimumSize = 128;

}  // namespace quorvel::GptEntry

#pragma once
// The NTFS file record: its header, and the update-sequence protection that
// guards the last two bytes of every 512-byte stride of it.
#include <cstddef>
#include <cstdint>

namespace quorvel::MftRecord {

constexpr size_t kDefaultSize = 1024;           // what the volume's boot sector names on all but 4Kn volumes
constexpr size_t kMagic = 0x00;                 // "FILE" (or "FHLD")
constexpr size_t kUpdateSequenceOffset = 0x04;  // 16-bit; 0x2A in the older layout without a stored number
constexpr uint16_t kOlderLayoutUsaOffset = 0x2A;
constexpr uint16_t kUsaOffset = 0x30;
constexpr size_t kUpdateSequenceCount = 0x06;  // 16-bit
constexpr size_t kSequenceNumber = 0x10;       // 16-bit
constexpr size_t kFirstAttribute = 0x14;       // 16-bit offset
constexpr size_t kFlags = 0x16;                // 16-bit: 1 in use, 2 folder
constexpr size_t kAllocatedSize = 0x1C;        // 32-bit: the record's length on disk
constexpr size_t kBaseReference = 0x20;        // 64-bit; non-zero in extension records
constexpr size_t kRecordNumber = 0x2C;         // 32-bit; absent in the older layout
constexpr size_t kStride = 512;                // the update sequence guards each stride's last two bytes

}  // namespace quorvel::MftRecord

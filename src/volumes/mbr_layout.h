#pragma once
// The master boot record and the extended boot records of an MBR disk: the
// partition table at byte 446 and its 16-byte entries.
#include <cstddef>
#include <cstdint>

namespace quorvel::Mbr {

constexpr size_t kSize = 512;
constexpr size_t kTable = 446;
constexpr size_t kEntrySize = 16;
constexpr int kEntries = 4;
constexpr size_t kSignature = 510;  // bytes 0x55 0xAA

}  // namespace quorvel::Mbr

namespace quorvel::MbrEntry {

constexpr size_t kType = 4;          // 8-bit partition type
constexpr size_t kFirstSector = 8;   // 32-bit; relative to the table's base for extended entries
constexpr size_t kSectorCount = 12;  // 32-bit

}  // namespace quorvel::MbrEntry

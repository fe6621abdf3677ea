#pragma once
// The dynamic-disk database header ("VMDB", big-endian), at the start of the
// database area's "config" region: how many record slots there are, how large
// each is and where the first one starts.
#include <cstddef>
#include <cstdint>

namespace quorvel::LdmDatabaseHeader {

constexpr size_t kMagic = 0x00;              // "VMDB"
constexpr size_t kLastSequence = 0x04;       // 32-bit: record slots in use, counted from the header
constexpr size_t kRecordSize = 0x08;         // 32-bit bytes per slot (VBLK)
constexpr size_t kFirstRecordOffset = 0x0C;  // 32-bit bytes from this header
constexpr size_t kVersionMajor = 0x12;       // 16-bit; 4
constexpr size_t kVersionMinor = 0x14;       // 16-bit; 10
constexpr size_t kCommittedCounts = 0x85;    // four 32-bit object counts
constexpr size_t kCountWidth = 4;
constexpr size_t kMinimumSize = 0x95;  // through the last count

}  // namespace quorvel::LdmDatabaseHeader

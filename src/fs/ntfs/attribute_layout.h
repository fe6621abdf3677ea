#pragma once
// NTFS attributes inside a file record: the common header, the resident and
// non-resident forms, and the values the readers decode ($FILE_NAME, the
// index root and its entries, attribute-list entries).
#include <cstddef>
#include <cstdint>

namespace quorvel::NtfsAttribute {

// Common header.
constexpr size_t kType = 0x00;            // 32-bit; 0xFFFFFFFF ends the list
constexpr size_t kLength = 0x04;          // 32-bit
constexpr size_t kNonResident = 0x08;     // 8-bit
constexpr size_t kNameLength = 0x09;      // 8-bit, UTF-16 units; 0 for the unnamed stream
constexpr size_t kValueOffsetAlt = 0x0A;  // 16-bit; where the value of an unnamed resident attribute starts
constexpr size_t kFlags = 0x0C;           // 16-bit: compressed, encrypted, sparse
// Resident form.
constexpr size_t kResidentHeaderSize = 0x18;
constexpr size_t kValueLength = 0x10;  // 32-bit
constexpr size_t kValueOffset = 0x14;  // 16-bit
// Non-resident form.
constexpr size_t kNonResidentHeaderSize = 0x40;
constexpr size_t kLowestVcn = 0x10;        // 64-bit
constexpr size_t kRunListOffset = 0x20;    // 16-bit
constexpr size_t kCompressionUnit = 0x22;  // 8-bit: log2 of clusters per unit
constexpr size_t kAllocatedSize = 0x28;    // 64-bit
constexpr size_t kRealSize = 0x30;         // 64-bit
constexpr size_t kInitializedSize = 0x38;  // 64-bit

}  // namespace quorvel::NtfsAttribute

namespace quorvel::FileNameValue {

constexpr size_t kParentReference = 0x00;  // 64-bit
constexpr size_t kCreationTime = 0x08;
constexpr size_t kModificationTime = 0x10;
constexpr size_t kMftChangeTime = 0x18;
constexpr size_t kAccessTime = 0x20;
constexpr size_t kAllocatedSize = 0x28;
constexpr size_t kRealSize = 0x30;
constexpr size_t kFlags = 0x38;       // 32-bit
constexpr size_t kNameLength = 0x40;  // 8-bit, UTF-16 units
constexpr size_t kNameSpace = 0x41;   // 8-bit
constexpr size_t kName = 0x42;        // the fixed part ends here

}  // namespace quorvel::FileNameValue

namespace quorvel::StandardInformation {

constexpr size_t kCreationTime = 0x00;
constexpr size_t kModificationTime = 0x08;
constexpr size_t kMftChangeTime = 0x10;
constexpr size_t kAccessTime = 0x18;
constexpr size_t kTimesSize = 0x20;

}  // namespace quorvel::StandardInformation

namespace quorvel::IndexRoot {

constexpr size_t kNodeHeader = 0x10;      // the index node header follows the root's own 16 bytes
constexpr size_t kEntriesOffset = 0x00;   // 32-bit, from the node header
constexpr size_t kLargeIndexFlag = 0x0C;  // 8-bit, in the node header: children in $INDEX_ALLOCATION
constexpr size_t kMinimumSize = 0x20;

}  // namespace quorvel::IndexRoot

namespace quorvel::IndexEntry {

constexpr size_t kFileReference = 0x00;  // 64-bit
constexpr size_t kLength = 0x08;         // 16-bit
constexpr size_t kKeyLength = 0x0A;      // 16-bit
constexpr size_t kFlags = 0x0C;          // 32-bit
constexpr uint32_t kLastEntry = 0x02;
constexpr size_t kKey = 0x10;  // the $FILE_NAME value
constexpr size_t kHeaderSize = 0x10;

}  // namespace quorvel::IndexEntry

namespace quorvel::AttributeListEntry {

constexpr size_t kType = 0x00;       // 32-bit
constexpr size_t kLength = 0x04;     // 16-bit
constexpr size_t kReference = 0x10;  // 64-bit: the record that holds the attribute
constexpr size_t kMinimumSize = 0x1A;

}  // namespace quorvel::AttributeListEntry

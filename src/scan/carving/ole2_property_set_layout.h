#pragma once
// A property-set stream of a compound document, as the summary information
// ("\5SummaryInformation") holds one (little-endian): a 28-byte header, one
// 20-byte section entry, then the one section: its size, its property count,
// pairs of property id and value offset (from the section's start), and the
// values, each a 32-bit type followed by its data.
#include <cstddef>
#include <cstdint>

namespace quorvel::Ole2PropertySet {

constexpr size_t kByteOrder = 0;            // 16-bit: 0xFFFE
constexpr size_t kSectionCount = 24;        // 32-bit
constexpr size_t kFirstSectionOffset = 44;  // 32-bit: the section entry's offset field
constexpr size_t kSection = 48;             // where the one section starts

}  // namespace quorvel::Ole2PropertySet

// The section, from its start.
namespace quorvel::Ole2PropertySection {

constexpr size_t kSize = 0;           // 32-bit bytes
constexpr size_t kPropertyCount = 4;  // 32-bit
constexpr size_t kPairs = 8;          // kPropertyCount pairs from here
constexpr size_t kPairSize = 8;
constexpr size_t kPairId = 0;      // 32-bit property id
constexpr size_t kPairOffset = 4;  // 32-bit, from the section's start

// Property ids of the summary information.
constexpr uint32_t kCodePageId = 1;
constexpr uint32_t kTitleId = 2;
constexpr uint32_t kAuthorId = 4;
constexpr uint32_t kApplicationId = 18;

}  // namespace quorvel::Ole2PropertySection

// A value, at its offset in the section.
namespace quorvel::Ole2PropertyValue {

constexpr size_t kType = 0;          // 32-bit: 2 a 16-bit integer, 0x1E a string, ...
constexpr size_t kInteger = 4;       // 16-bit, for the code page
constexpr size_t kStringLength = 4;  // 32-bit bytes, with the terminator
constexpr size_t kString = 8;

}  // namespace quorvel::Ole2PropertyValue

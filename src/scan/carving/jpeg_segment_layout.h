#pragma once
// A JPEG marker segment (big-endian): 0xFF, the marker code, and for most
// codes a 16-bit length that counts itself and the segment's data but not the
// two marker bytes. A file starts with the start-of-image marker alone; the
// segment after it (APP0 "JFIF", APP1 "Exif") names the file's kind.
#include <cstddef>
#include <cstdint>

namespace quorvel::JpegSegment {

constexpr size_t kPrefix = 0;         // 0xFF
constexpr size_t kCode = 1;           // the marker code
constexpr size_t kLength = 2;         // 16-bit
constexpr size_t kIdentifier = 4;     // the data of an APPn segment starts with its name
constexpr uint64_t kMarkerBytes = 2;  // prefix and code, not counted in kLength

constexpr uint8_t kStartOfImage = 0xD8;  // no length
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kEndOfImage = 0xD9;

}  // namespace quorvel::JpegSegment

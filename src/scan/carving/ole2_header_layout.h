#pragma once
// The header of a compound document (OLE2: Office 97-2003 files;
// little-endian), one 512-byte sector. The document's own sectors are
// numbered from the sector after it; version 4 documents use 4096-byte
// sectors (shift 12), version 3 ones 512 bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel::Ole2Header {

constexpr size_t kSignature = 0x00;  // kSignatureBytes
constexpr std::string_view kSignatureBytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr size_t kMinorVersion = 0x18;                // 16-bit
constexpr size_t kMajorVersion = 0x1A;                // 16-bit: 3 or 4
constexpr size_t kByteOrder = 0x1C;                   // 16-bit: 0xFFFE
constexpr size_t kSectorShift = 0x1E;                 // 16-bit: sector size as a power of two
constexpr size_t kFatSectorCount = 0x2C;              // 32-bit
constexpr size_t kFirstDirectorySector = 0x30;        // 32-bit
constexpr uint32_t kFirstSpecialSector = 0xFFFFFFA0;  // sector numbers from here on mean free, end of chain, ...

}  // namespace quorvel::Ole2Header

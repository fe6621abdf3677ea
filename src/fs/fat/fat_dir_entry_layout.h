#pragma once
// The 32-byte FAT directory entry, short and long-name forms: byte offsets
// of the fields read.
#include <cstddef>
#include <cstdint>

namespace quorvel::FatDirEntry {

constexpr size_t kSize = 32;
constexpr size_t kName = 0x00;  // 8 bytes of name, 3 of extension, blank-padded
constexpr size_t kNameLength = 8;
constexpr size_t kExtension = 0x08;
constexpr size_t kExtensionLength = 3;
constexpr size_t kShortNameLength = 11;
constexpr size_t kAttribute = 0x0B;
constexpr size_t kCaseFlags = 0x0C;  // 0x08 lower-case name, 0x10 lower-case extension
constexpr uint8_t kLowerCaseName = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;
constexpr size_t kCreationTime = 0x0E;  // 16-bit DOS time
constexpr size_t kCreationDate = 0x10;  // 16-bit DOS date
constexpr size_t kAccessDate = 0x12;
constexpr size_t kFirstClusterHigh = 0x14;  // 16-bit (FAT32)
constexpr size_t kWriteTime = 0x16;
constexpr size_t kWriteDate = 0x18;
constexpr size_t kFirstClusterLow = 0x1A;  // 16-bit
constexpr size_t kFileSize = 0x1C;         // 32-bit
constexpr size_t kBlankPrefix = 16;        // an entry whose first 16 bytes are zero is unused

constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kLeadByteE5 = 0x05;  // stands for a first name byte of 0xE5
constexpr uint8_t kVolumeLabelAttribute = 0x08;
constexpr uint8_t kLongNameAttribute = 0x0F;

}  // namespace quorvel::FatDirEntry

namespace quorvel::FatLongNameEntry {

constexpr size_t kOrder = 0x00;  // sequence number; 0x40 marks the last piece
constexpr uint8_t kLastPiece = 0x40;
constexpr uint8_t kOrderMask = 0x1F;
constexpr size_t kUnits1 = 0x01;        // 5 UTF-16 units
constexpr size_t kChecksum = 0x0D;      // of the short entry's 11 name bytes
constexpr size_t kUnits2 = 0x0E;        // 6 UTF-16 units
constexpr size_t kFirstCluster = 0x1A;  // always 0
constexpr size_t kUnits3 = 0x1C;        // 2 UTF-16 units
constexpr size_t kUnitsPerEntry = 13;

}  // namespace quorvel::FatLongNameEntry

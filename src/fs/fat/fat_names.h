#pragma once
// Decoding the 32-byte FAT directory entry: attribute classes, short names
// (code page 936) and the UTF-16 pieces of long-name entries.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/byte_view.h"
#include "fs/fat/fat_dir_entry_layout.h"

namespace quorvel {

constexpr size_t kFatEntrySize = FatDirEntry::kSize;
constexpr uint8_t kFatDeletedMark = FatDirEntry::kDeletedMark;
constexpr uint8_t kFatLongNameAttribute = FatDirEntry::kLongNameAttribute;

enum class FatEntryClass : uint8_t {
  kIgnored,   // volume labels and every other attribute value
  kFile,      // 0x00-0x07, 0x20-0x27
  kFolder,    // 0x10-0x17, 0x30, 0x32, 0x34, 0x36
  kLongName,  // 0x0F
};

FatEntryClass ClassifyFatAttribute(uint8_t attribute);

// Each takes one 32-byte entry; fields past a shorter view read as zero.

// The first 16 bytes are zero: an unused slot.
bool IsBlankFatEntry(ByteView entry);
// "." or ".." (the self and parent links of a subfolder).
bool IsDotFatEntry(ByteView entry);

// Short name of an entry, UTF-8. Files: base with trailing spaces cut, then
// "." and the extension when it is not blank; folders: the 11 bytes as they
// stand with trailing spaces cut. The lower-case flags of byte 12 are
// honoured; 0x05 in byte 0 stands for 0xE5. A deleted entry's lost first
// byte is shown as "?".
std::string FatShortName(ByteView entry, bool folder);

// Appends this long-name entry's UTF-16 units (little-endian byte pairs) to
// `units`, piece by piece up to the first NUL or 0xFFFF padding.
void AppendLongNameUnits(ByteView entry, std::string& units);

// Checksum of the 11 short-name bytes that long-name entries carry at byte 13.
uint8_t FatShortNameChecksum(ByteView entry);

// High word (FAT32) and low word of the first cluster.
inline uint32_t FatEntryFirstCluster(ByteView entry) {
  return (static_cast<uint32_t>(entry.Le16(FatDirEntry::kFirstClusterHigh)) << 16) |
         entry.Le16(FatDirEntry::kFirstClusterLow);
}

}  // namespace quorvel

#pragma once
// Pure tests that decide what a sector holds, plus the label reader and the
// NTFS update-sequence fix-up. Shared by the partition walk, the readers and
// the scans, so a volume is recognised the same way wherever it is met.
// Each test reads through a ByteView: a buffer shorter than the structure it
// tests fails the test, it is never read past.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/byte_view.h"
#include "fs/boot_sector_layout.h"
#include "io/byte_source.h"

namespace quorvel {

// Boot-sector tests on the sector's 512 bytes (fs/fat/fat_recognition.cpp,
// fs/ntfs/ntfs_recognition.cpp, fs/exfat_recognition.cpp).
bool IsNtfsBootSector(ByteView sector);
bool IsFat32BootSector(ByteView sector);
bool IsFat16BootSector(ByteView sector);
bool IsExfatBootSector(ByteView sector);

// The sector sizes real volumes name in their boot sectors.
constexpr bool IsUsualSectorSize(uint32_t bytes) {
  return bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096;
}

// 0x55 0xAA at the end of the first 512 bytes.
inline bool HasBootSignature(ByteView sector) {
  return sector.Le16(BootSector::kSignature) == BootSector::kSignatureValue;
}

// EXT2/3/4 (fs/ext_recognition.cpp); `superblock` starts 1024 bytes into the
// volume and holds its 1024 bytes.
bool IsExtSuperblock(ByteView superblock);
// "EXT2", "EXT3" or "EXT4" from the journal and extents feature bits.
std::string ExtSubKind(ByteView superblock);
// Size of the whole EXT volume in 512-byte sectors.
uint64_t ExtVolumeSectors(ByteView superblock);
// The superblock's volume name (offset 0x78, at most 16 bytes), UTF-8.
std::string ExtVolumeName(ByteView superblock);

// HFS family (fs/hfs_recognition.cpp); `header` starts 1024 bytes into the
// volume. 0 none, 1 HFS, 2 HFS+, 3 HFSX, 4 HFS+ wrapped in HFS.
int ClassifyHfsHeader(ByteView header);
// The HFS master directory block's volume name (length byte at 0x24, at most
// 27 bytes), decoded as code page 936.
std::string HfsVolumeName(ByteView header);
// Reads the header at startSector + 2 (sectors of the source). Sets variant
// (1..4) and returns the volume text ("only hfs+" for HFS+, "HFSX" for HFSX);
// when nothing matches, variant is left untouched and the text is empty.
std::string ProbeHfsVolume(const ByteSource& source, uint64_t startSector, int32_t& variant);

// Applies the update-sequence fix-up to an NTFS file record in place: the
// last two bytes of every 512-byte stride must hold the update-sequence
// number and get back the bytes the array keeps for them. The record is
// 1024 bytes, or what the volume's boot sector names (4096 on 4Kn volumes).
// False (record unchanged) when it is not a valid record.
bool FixUpFileRecord(std::span<uint8_t> record);

// The volume label of the partition at startSector (sectors of the source),
// read by its FsKind through absolute reads. UTF-8; empty when none is found.
std::string ReadVolumeLabel(const ByteSource& source, uint64_t startSector, uint8_t fsKind);
// The same with the volume's boot sector given (its first 512 bytes) instead
// of read from startSector: for a volume whose first sector is damaged, with
// the fields of its backup copy.
std::string ReadVolumeLabelWithBootSector(const ByteSource& source, uint64_t startSector, uint8_t fsKind,
                                          ByteView bootSector);
// The label of a volume read as a source of its own (from its first byte).
inline std::string ReadVolumeLabel(const ByteSource& volume, uint8_t fsKind) {
  return ReadVolumeLabel(volume, 0, fsKind);
}

}  // namespace quorvel

#pragma once
// Pure tests that decide what a sector holds, plus the label reader and the
// NTFS update-sequence fix-up. Shared by the partition walk, the readers and
// the scans, so a volume is recognised the same way wherever it is met.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/byte_source.h"
#include "io/sector_device.h"

namespace quorvel {

// Boot-sector tests; `sector` holds at least 512 bytes.
bool IsNtfsBootSector(const uint8_t* sector);
bool IsFat32BootSector(const uint8_t* sector);
bool IsFat16BootSector(const uint8_t* sector);
bool IsExfatBootSector(const uint8_t* sector);

// EXT2/3/4 superblock test; `superblock` starts 1024 bytes into the volume and
// holds at least 1024 bytes.
bool IsExtSuperblock(const uint8_t* superblock);
// "EXT2", "EXT3" or "EXT4" from the journal and extents feature bits.
std::string ExtSubKind(const uint8_t* superblock);
// Size of the whole EXT volume in 512-byte sectors.
uint64_t ExtVolumeSectors(const uint8_t* superblock);
// The superblock's volume name (offset 0x78, at most 16 bytes), UTF-8.
std::string ExtVolumeName(const uint8_t* superblock);

// HFS-family header test; `header` starts 1024 bytes into the volume.
// 0 none, 1 HFS, 2 HFS+, 3 HFSX, 4 HFS+ wrapped in HFS.
int ClassifyHfsHeader(const uint8_t* header);
// The HFS master directory block's volume name (length byte at 0x24, at most
// 27 bytes), decoded as code page 936.
std::string HfsVolumeName(const uint8_t* header);
// Reads the header at startSector + 2. Sets variant (1..4) and returns the
// volume text ("only hfs+" for HFS+, "HFSX" for HFSX); when nothing matches,
// variant is left untouched and the text is empty.
std::string ProbeHfsVolume(SectorDevice& device, uint64_t startSector, int32_t& variant);

// Applies the update-sequence fix-up to a 1024-byte NTFS file record in place.
// False (record unchanged) when it is not a valid record.
bool FixUpFileRecord(uint8_t* record);

// The volume label of the partition at startSector, read by its FsKind through
// absolute reads on device. UTF-8; empty when none is found.
std::string ReadVolumeLabel(SectorDevice& device, uint64_t startSector, uint8_t fsKind);
// The same for a volume read as a source of its own (from its first byte).
std::string ReadVolumeLabel(const ByteSource& volume, uint8_t fsKind);

}  // namespace quorvel

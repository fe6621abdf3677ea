// The NTFS boot sector: the recognition test and the geometry the reader
// takes from it.
#include "fs/ntfs/ntfs_boot_sector.h"

#include "fs/fs_recognition.h"
#include "fs/ntfs/ntfs_boot_sector_layout.h"

namespace quorvel {

namespace {

// Everything of the NTFS test but the sector size.
bool HasNtfsShape(ByteView s) {
  return HasBootSignature(s) && s.U8(BootSector::kNumberOfFats) == 0 && s.Le16(BootSector::kRootEntries) == 0 &&
         s.Le16(BootSector::kFat16Size) == 0 && s.Matches(BootSector::kOemName, "NTFS");
}

}  // namespace

bool IsNtfsBootSector(ByteView s) { return HasNtfsShape(s) && s.Le16(BootSector::kBytesPerSector) == 512; }

bool IsNtfsBootSectorOfAnySectorSize(ByteView s) {
  return HasNtfsShape(s) && IsUsualSectorSize(s.Le16(BootSector::kBytesPerSector));
}

uint32_t NtfsSectorsPerCluster(ByteView boot) {
  const uint8_t value = boot.U8(BootSector::kSectorsPerCluster);
  if (value <= 0x80) return value;
  const unsigned shift = 256u - value;
  return shift < 24 ? 1u << shift : 0;
}

uint32_t NtfsFileRecordSize(ByteView boot, uint64_t bytesPerSector, uint32_t sectorsPerCluster) {
  const auto value = static_cast<int8_t>(boot.U8(NtfsBoot::kClustersPerRecord));
  uint64_t bytes;
  if (value > 0) {
    bytes = bytesPerSector * sectorsPerCluster * static_cast<uint64_t>(value);
  } else {
    const int shift = -value;
    bytes = shift < 32 ? uint64_t{1} << shift : 0;
  }
  const bool powerOfTwo = bytes != 0 && (bytes & (bytes - 1)) == 0;
  return powerOfTwo && bytes >= 1024 && bytes <= 65536 ? static_cast<uint32_t>(bytes) : 0;
}

}  // namespace quorvel

// The FAT32 and FAT16 boot-sector tests.
#include "fs/fat/fat_boot_sector_layout.h"
#include "fs/fs_recognition.h"

namespace quorvel {

bool IsFat32BootSector(ByteView s) {
  return HasBootSignature(s) && s.U8(BootSector::kNumberOfFats) == 2 && s.Le16(BootSector::kBytesPerSector) == 512 &&
         s.Le16(FatBoot::kBackupBootSector) <= 6 &&
         s.Le32(BootSector::kRootEntries) == 0 &&  // root entries and the 16-bit sector count together
         s.Le16(BootSector::kFat16Size) == 0 && s.Matches(FatBoot::kFat32TypeName, "FAT32");
}

bool IsFat16BootSector(ByteView s) {
  return HasBootSignature(s) && s.Le16(BootSector::kRootEntries) == 512 && s.Le16(BootSector::kBytesPerSector) == 512 &&
         s.Matches(FatBoot::kFat16TypeName, "FAT16");
}

}  // namespace quorvel

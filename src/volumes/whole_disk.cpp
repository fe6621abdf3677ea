// Volumes that fill the whole disk, without a partition table.
#include "fs/boot_sector_layout.h"
#include "fs/exfat_layout.h"
#include "fs/fs_recognition.h"
#include "fs/ntfs/ntfs_boot_sector_layout.h"
#include "volumes/partition_walk.h"

namespace quorvel {

bool IsVolumeBootSector(ByteView s) {
  const uint8_t jump = s.U8(0);
  if (jump == 0xEB && s.U8(2) == 0x90 && s.U8(1) != 0x48 && s.U8(1) != 0x63) return true;
  return jump == 0xE9 && s.U8(11) == 0x00 && s.U8(12) == 0x02;
}

void AddWholeDiskVolume(PartitionWalk& w, ByteView boot) {
  PartitionRecord record = w.NewRecord();
  record.startSector = 0;
  if (IsNtfsBootSector(boot)) {
    record.fsKind = FsKind::kNtfs;
    record.sectorCount = boot.Le64(NtfsBoot::kTotalSectors);
  } else if (IsFat32BootSector(boot)) {
    record.fsKind = FsKind::kFat32Lba;
    record.sectorCount = boot.Le32(BootSector::kTotalSectors32);
  } else if (IsFat16BootSector(boot)) {
    record.fsKind = FsKind::kFat16;
    record.sectorCount = boot.Le32(BootSector::kTotalSectors32);
    if (record.sectorCount == 0) record.sectorCount = boot.Le16(BootSector::kTotalSectors16);
  } else if (IsExfatBootSector(boot)) {
    record.fsKind = FsKind::kExfat;
    record.sectorCount = boot.Le64(ExfatBoot::kVolumeLength);
  }
  record.volumeLabel = ReadVolumeLabel(w.source, 0, record.fsKind);
  w.Append(std::move(record));
}

void AddWholeDiskExt(PartitionWalk& w, ByteView superblock) {
  PartitionRecord record = w.NewRecord();
  record.fsKind = FsKind::kLinuxExt;
  record.linuxSubKind = ExtSubKind(superblock);
  record.startSector = 0;
  record.sectorCount = ExtVolumeSectors(superblock);
  record.volumeLabel = ExtVolumeName(superblock);
  w.Append(std::move(record));
}

}  // namespace quorvel

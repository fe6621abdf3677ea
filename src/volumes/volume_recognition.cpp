#include "volumes/volume_recognition.h"

#include <vector>

#include "fs/fs_recognition.h"

namespace quorvel {

void ApplyHfsVariant(PartitionRecord& record, int variant, ByteView header) {
  record.fsKind = FsKind::kHfsFamily;
  record.subKindCode = variant;
  switch (variant) {
    case 1:
      record.subKindText = "HFS";
      record.volumeLabel = HfsVolumeName(header);
      break;
    case 4:
      record.subKindText = "HFS+ in HFS";
      record.volumeLabel = HfsVolumeName(header);
      break;
    case 2:
      record.subKindText = "HFS+";
      record.volumeLabel = "only hfs+";
      break;
    default:
      record.subKindText = "HFSX";
      break;
  }
}

bool RecogniseVolume(const ByteSource& volume, PartitionRecord& record, bool setKind) {
  std::vector<uint8_t> head(2048);
  volume.ReadAt(0, head);
  const ByteView boot = ByteView(head).Sub(0, 512);
  const ByteView at1024 = ByteView(head).Sub(1024, 1024);
  uint8_t found = FsKind::kNone;
  if (IsNtfsBootSector(boot))
    found = FsKind::kNtfs;
  else if (IsFat32BootSector(boot))
    found = FsKind::kFat32;
  else if (IsFat16BootSector(boot))
    found = FsKind::kFat16;
  else if (IsExfatBootSector(boot))
    found = FsKind::kExfat;
  if (found != FsKind::kNone) {
    if (setKind || (found == FsKind::kExfat && record.fsKind == FsKind::kNtfs)) record.fsKind = found;
    record.volumeLabel = ReadVolumeLabel(volume, record.fsKind);
    return true;
  }
  if (IsExtSuperblock(at1024)) {
    if (setKind) record.fsKind = FsKind::kLinuxExt;
    record.linuxSubKind = ExtSubKind(at1024);
    record.volumeLabel = ExtVolumeName(at1024);
    return true;
  }
  if (int hfs = ClassifyHfsHeader(at1024); hfs != 0 && setKind) {
    ApplyHfsVariant(record, hfs, at1024);
    return true;
  }
  return false;
}

}  // namespace quorvel

// Reading a partition's volume label by its FsKind.
#include <vector>

#include "fs/exfat_layout.h"
#include "fs/ext_layout.h"
#include "fs/fat/fat_boot_sector_layout.h"
#include "fs/fat/fat_dir_entry_layout.h"
#include "fs/fs_recognition.h"
#include "fs/ntfs/attribute_layout.h"
#include "fs/ntfs/mft_record_layout.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "fs/ntfs/ntfs_boot_sector_layout.h"
#include "model/disk_records.h"
#include "platform/text.h"

namespace quorvel {

namespace {

constexpr uint32_t kVolumeNameAttribute = 0x60;
constexpr uint64_t kVolumeRecord = 3;  // $Volume

// The partition's first byte, and the bytes per sector its boot sector names
// (512 when it names no real sector size).
struct LabelVolume {
  const ByteSource& source;
  uint64_t start = 0;
  uint64_t bytesPerSector = 512;

  void Read(uint64_t volumeSector, std::span<uint8_t> out) const {
    source.ReadAt(start + volumeSector * bytesPerSector, out);
  }
};

// First label entry (attribute 0x08 or 0x28) of a FAT directory area; the scan
// stops at an entry whose first 16 bytes are zero. The 11 name bytes are kept
// as they stand, trailing blanks included.
std::string FatLabelFromDirectory(ByteView dir) {
  using namespace FatDirEntry;
  for (size_t off = 0; dir.Has(off, kSize); off += kSize) {
    const ByteView e = dir.Sub(off, kSize);
    bool blank = true;
    for (size_t i = 0; i < kBlankPrefix && blank; ++i) blank = e.U8(i) == 0;
    if (blank) break;
    // A deleted label entry is not the volume's label.
    if (e.U8(kName) == kDeletedMark) continue;
    const uint8_t attribute = e.U8(kAttribute);
    if (attribute == kVolumeLabelAttribute || attribute == (kVolumeLabelAttribute | 0x20))
      return Cp936ToUtf8(std::string(reinterpret_cast<const char*>(e.data()), kShortNameLength));
  }
  return std::string();
}

std::string Fat32Label(const LabelVolume& volume, ByteView boot) {
  const uint64_t reserved = boot.Le16(BootSector::kReservedSectors);
  const uint64_t fats = boot.U8(BootSector::kNumberOfFats);
  const uint64_t fatSectors = boot.Le32(FatBoot::kFat32Size);
  const uint64_t rootCluster = boot.Le32(FatBoot::kRootCluster);
  const uint64_t perCluster = boot.U8(BootSector::kSectorsPerCluster);
  const uint32_t bytesPerSector = boot.Le16(BootSector::kBytesPerSector);
  if (rootCluster < 2 || bytesPerSector == 0) return std::string();
  std::vector<uint8_t> dir(bytesPerSector);
  volume.Read(reserved + fats * fatSectors + (rootCluster - 2) * perCluster, dir);
  return FatLabelFromDirectory(dir);
}

std::string Fat16Label(const LabelVolume& volume, ByteView boot) {
  const uint64_t reserved = boot.Le16(BootSector::kReservedSectors);
  const uint64_t fats = boot.U8(BootSector::kNumberOfFats);
  const uint64_t fatSectors = boot.Le16(BootSector::kFat16Size);
  const size_t rootEntries = boot.Le16(BootSector::kRootEntries);
  if (rootEntries == 0) return std::string();
  std::vector<uint8_t> dir(rootEntries * FatDirEntry::kSize);
  volume.Read(reserved + fats * fatSectors, dir);
  return FatLabelFromDirectory(dir);
}

std::string NtfsLabel(const LabelVolume& volume, ByteView boot) {
  const uint64_t mftCluster = boot.Le64(NtfsBoot::kMftCluster);
  const uint32_t perCluster = NtfsSectorsPerCluster(boot);
  uint32_t recordSize = NtfsFileRecordSize(boot, volume.bytesPerSector, perCluster);
  if (recordSize == 0) recordSize = MftRecord::kDefaultSize;
  std::vector<uint8_t> bytes(recordSize);
  volume.source.ReadAt(volume.start + (mftCluster * perCluster) * volume.bytesPerSector + kVolumeRecord * recordSize,
                       bytes);
  if (!FixUpFileRecord(bytes)) return std::string();
  const ByteView record(bytes);
  size_t off = record.Le16(MftRecord::kFirstAttribute);
  // Each attribute must move the walk forward and stay inside the record.
  while (record.Has(off, NtfsAttribute::kResidentHeaderSize)) {
    const uint32_t type = record.Le32(off + NtfsAttribute::kType);
    if (type == 0xFFFFFFFF) break;
    const uint32_t length = record.Le32(off + NtfsAttribute::kLength);
    if (length < NtfsAttribute::kResidentHeaderSize || !record.Has(off, length)) break;
    const ByteView a = record.Sub(off, length);
    const uint32_t valueLength = a.Le32(NtfsAttribute::kValueLength);
    if (type == kVolumeNameAttribute && valueLength != 0) {
      // The value of this unnamed attribute starts where the name would.
      const size_t valueOffset = a.Le16(NtfsAttribute::kValueOffsetAlt);
      if (valueOffset > length) return std::string();
      const ByteView value = a.Sub(valueOffset, valueLength);
      return Utf16LeToUtf8(value, false);
    }
    off += length;
  }
  return std::string();
}

std::string ExfatLabel(const LabelVolume& volume, ByteView boot) {
  const uint32_t bpsShift = boot.U8(ExfatBoot::kBytesPerSectorShift);
  const uint32_t spcShift = boot.U8(ExfatBoot::kSectorsPerClusterShift);
  // Real volumes use 512..4096-byte sectors and clusters up to 32 MiB.
  if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return std::string();
  const uint64_t heapOffset = boot.Le32(ExfatBoot::kClusterHeapOffset);
  const uint64_t rootCluster = boot.Le32(ExfatBoot::kRootCluster);
  if (rootCluster < 2) return std::string();
  std::vector<uint8_t> bytes(size_t{1} << bpsShift);
  volume.source.ReadAt(volume.start + ((heapOffset + ((rootCluster - 2) << spcShift)) << bpsShift), bytes);
  const ByteView dir(bytes);
  for (size_t off = 0; dir.Has(off, ExfatEntry::kSize); off += ExfatEntry::kSize) {
    const ByteView e = dir.Sub(off, ExfatEntry::kSize);
    if (e.U8(ExfatEntry::kType) != ExfatEntry::kVolumeLabelType) continue;
    size_t count = e.U8(ExfatEntry::kLabelLength);
    if (count > ExfatEntry::kMaxLabelUnits) count = ExfatEntry::kMaxLabelUnits;
    const ByteView units = e.Sub(ExfatEntry::kLabel, 2 * count);
    return Utf16LeToUtf8(units, false);
  }
  return std::string();
}

uint64_t SectorSizeOf(ByteView boot) {
  const uint16_t bytes = boot.Le16(BootSector::kBytesPerSector);
  return IsUsualSectorSize(bytes) ? bytes : 512;
}

}  // namespace

std::string ReadVolumeLabel(const ByteSource& source, uint64_t startSector, uint8_t fsKind) {
  uint8_t bytes[BootSector::kSize];
  ReadSectors(source, startSector, source.SectorSize(), bytes);
  return ReadVolumeLabelWithBootSector(source, startSector, fsKind, ByteView(bytes));
}

std::string ReadVolumeLabelWithBootSector(const ByteSource& source, uint64_t startSector, uint8_t fsKind,
                                          ByteView boot) {
  const LabelVolume volume{source, startSector * source.SectorSize(), SectorSizeOf(boot)};
  if (IsFat32Kind(fsKind)) return Fat32Label(volume, boot);
  if (IsNtfsKind(fsKind)) return NtfsLabel(volume, boot);
  if (IsFat16Kind(fsKind)) return Fat16Label(volume, boot);
  if (fsKind == FsKind::kLinuxExt) {
    uint8_t sb[ExtSuperblock::kSize];
    source.ReadAt(volume.start + ExtSuperblock::kOffsetInVolume, sb);
    return ExtVolumeName(sb);
  }
  if (fsKind == FsKind::kExfat) return ExfatLabel(volume, boot);
  return std::string();
}

}  // namespace quorvel

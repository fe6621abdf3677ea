// Reading a partition's volume label by its FsKind.
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "core/byte_order.h"
#include "fs/fs_recognition.h"
#include "model/disk_records.h"
#include "platform/text.h"

namespace quorvel {

namespace {

constexpr size_t kDirEntry = 32;

// Reads length bytes at a byte offset of the disk (or of the volume, when
// the volume is read as a source of its own); unread bytes are zero.
using ReadBytes = std::function<void(uint64_t offset, uint8_t* buffer, size_t length)>;

// First label entry (attribute 0x08 or 0x28) of a FAT directory area; the scan
// stops at an entry whose first 16 bytes are zero. The 11 name bytes are kept
// as they stand, trailing blanks included.
std::string FatLabelFromDirectory(const std::vector<uint8_t>& dir) {
  static const uint8_t kZero[16] = {};
  for (size_t off = 0; off + kDirEntry <= dir.size(); off += kDirEntry) {
    const uint8_t* e = dir.data() + off;
    if (std::memcmp(e, kZero, 16) == 0) break;
    // A deleted label entry is not the volume's label.
    if (e[0] == 0xE5) continue;
    if (e[11] == 0x08 || e[11] == 0x28) return Cp936ToUtf8(std::string(reinterpret_cast<const char*>(e), 11));
  }
  return std::string();
}

std::string Fat32Label(const ReadBytes& read, uint64_t start, const uint8_t* boot) {
  uint64_t reserved = LoadLe16(boot + 0x0E);
  uint64_t fats = boot[0x10];
  uint64_t fatSectors = LoadLe32(boot + 0x24);
  uint64_t rootCluster = LoadLe32(boot + 0x2C);
  uint64_t perCluster = boot[0x0D];
  uint32_t bytesPerSector = LoadLe16(boot + 0x0B);
  if (rootCluster < 2 || bytesPerSector == 0) return std::string();
  uint64_t sector = start + reserved + fats * fatSectors + (rootCluster - 2) * perCluster;
  std::vector<uint8_t> dir(bytesPerSector);
  read(sector * kSectorSize, dir.data(), dir.size());
  return FatLabelFromDirectory(dir);
}

std::string Fat16Label(const ReadBytes& read, uint64_t start, const uint8_t* boot) {
  uint64_t reserved = LoadLe16(boot + 0x0E);
  uint64_t fats = boot[0x10];
  uint64_t fatSectors = LoadLe16(boot + 0x16);
  size_t rootEntries = LoadLe16(boot + 0x11);
  if (rootEntries == 0) return std::string();
  std::vector<uint8_t> dir(rootEntries * kDirEntry);
  read((start + reserved + fats * fatSectors) * kSectorSize, dir.data(), dir.size());
  return FatLabelFromDirectory(dir);
}

std::string NtfsLabel(const ReadBytes& read, uint64_t start, const uint8_t* boot) {
  uint64_t mftCluster = LoadLe64(boot + 0x30);
  uint64_t perCluster = boot[0x0D];
  uint8_t record[1024];
  // File record 3 ($Volume) lies six sectors past the start of the MFT.
  read((mftCluster * perCluster + start + 6) * kSectorSize, record, sizeof record);
  if (!FixUpFileRecord(record)) return std::string();
  size_t off = LoadLe16(record + 0x14);
  // Each attribute must move the walk forward and stay inside the record.
  while (off + 0x18 <= sizeof record) {
    const uint8_t* a = record + off;
    uint32_t type = LoadLe32(a);
    if (type == 0xFFFFFFFF) break;
    uint32_t length = LoadLe32(a + 4);
    if (length < 0x18 || length > sizeof record - off) break;
    uint32_t valueLength = LoadLe32(a + 0x10);
    if (type == 0x60 && valueLength != 0) {
      size_t valueOffset = LoadLe16(a + 0x0A);
      if (valueOffset > length) return std::string();
      size_t avail = length - valueOffset;
      size_t bytes = valueLength < avail ? valueLength : avail;
      return Utf16LeToUtf8(a + valueOffset, bytes / 2, false);
    }
    off += length;
  }
  return std::string();
}

std::string ExfatLabel(const ReadBytes& read, uint64_t start, const uint8_t* boot) {
  uint32_t bpsShift = boot[0x6C];
  uint32_t spcShift = boot[0x6D];
  // Real volumes use 512..4096-byte sectors and clusters up to 32 MiB.
  if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return std::string();
  uint64_t heapOffset = LoadLe32(boot + 0x58);
  uint64_t rootCluster = LoadLe32(boot + 0x60);
  if (rootCluster < 2) return std::string();
  uint64_t sector = heapOffset + start + ((rootCluster - 2) << spcShift);
  std::vector<uint8_t> dir(size_t{1} << bpsShift);
  read(sector << bpsShift, dir.data(), dir.size());
  for (size_t off = 0; off + kDirEntry <= dir.size(); off += kDirEntry) {
    const uint8_t* e = dir.data() + off;
    if (e[0] == 0x83) {
      size_t count = e[1];
      if (count > 15) count = 15;
      return Utf16LeToUtf8(e + 2, count, false);
    }
  }
  return std::string();
}

std::string LabelOf(const ReadBytes& read, uint64_t startSector, uint8_t fsKind) {
  uint8_t boot[512];
  read(startSector * kSectorSize, boot, sizeof boot);
  if (IsFat32Kind(fsKind)) return Fat32Label(read, startSector, boot);
  if (IsNtfsKind(fsKind)) return NtfsLabel(read, startSector, boot);
  if (IsFat16Kind(fsKind)) return Fat16Label(read, startSector, boot);
  if (fsKind == FsKind::kLinuxExt) {
    uint8_t sb[1024];
    read((startSector + 2) * kSectorSize, sb, sizeof sb);
    return ExtVolumeName(sb);
  }
  if (fsKind == FsKind::kExfat) return ExfatLabel(read, startSector, boot);
  return std::string();
}

}  // namespace

std::string ReadVolumeLabel(SectorDevice& device, uint64_t startSector, uint8_t fsKind) {
  return LabelOf([&](uint64_t offset, uint8_t* buffer, size_t length) { device.ReadAt(offset, buffer, length); },
                 startSector, fsKind);
}

std::string ReadVolumeLabel(const ByteSource& volume, uint8_t fsKind) {
  return LabelOf([&](uint64_t offset, uint8_t* buffer,
                     size_t length) { volume.ReadAt(offset, std::span<uint8_t>(buffer, length)); },
                 0, fsKind);
}

}  // namespace quorvel

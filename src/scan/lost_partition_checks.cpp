// The tests every lost-partition search shares: when a boot sector stands for
// a real volume, where that volume lies, and how it joins the disk.
#include <algorithm>
#include <limits>

#include "core/byte_view.h"
#include "fs/boot_sector_layout.h"
#include "fs/fat/fat_boot_sector_layout.h"
#include "fs/fs_recognition.h"
#include "fs/ntfs/ntfs_boot_sector_layout.h"
#include "scan/lost_partition_search.h"

namespace quorvel {

namespace {

constexpr uint64_t kMaxSector = std::numeric_limits<uint64_t>::max() / kDefaultSectorSize;

const char* FsWord(uint8_t fsKind) {
  if (IsNtfsKind(fsKind)) return "NTFS;";
  if (IsFat32Kind(fsKind)) return "FAT32;";
  return "FAT16;";
}

// The first FAT of a FAT32 volume begins with the media byte in entry 0
// (0x0FFFFFF8 on fixed disks); a sector of the FAT further in does not.
bool Fat32TableStartsAt(LostSearch& search, uint64_t sector) {
  BootSectorBytes s = search.ReadSector(sector);
  return (ByteView(s).Le32(0) & 0x0FFFFFF0) == 0x0FFFFFF0;
}

// The volume [start, start + count) fits the 64-bit sector numbers.
bool Addressable(uint64_t start, uint64_t count) { return start <= kMaxSector && count <= kMaxSector - start; }

FoundVolume Volume(uint8_t fsKind, uint64_t start, uint64_t count, ByteView boot) {
  FoundVolume v;
  v.fsKind = fsKind;
  v.start = start;
  v.count = count;
  std::copy_n(boot.data(), std::min<size_t>(boot.size(), v.boot.size()), v.boot.begin());
  return v;
}

}  // namespace

void LostSearch::Read(uint64_t sector, std::span<uint8_t> buffer) {
  ++report.reads;
  if (sector > kMaxSector) {
    ZeroRest(buffer, 0);
    return;
  }
  report.bytesRead += source.ReadAt(sector * kDefaultSectorSize, buffer);
}

BootSectorBytes LostSearch::ReadSector(uint64_t sector) {
  BootSectorBytes s;
  Read(sector, s);
  return s;
}

bool NtfsMftCheck(LostSearch& search, uint64_t start, ByteView boot) {
  const ByteView b = boot.Sub(0, kDefaultSectorSize);
  const uint64_t perCluster = b.U8(BootSector::kSectorsPerCluster);
  const uint64_t mftCluster = b.Le64(NtfsBoot::kMftCluster);
  if (perCluster == 0 || mftCluster > search.diskSectors / perCluster) return false;
  const uint64_t mft = mftCluster * perCluster;
  // The record's two sectors must lie on the disk.
  if (start >= search.diskSectors || mft > search.diskSectors - start || search.diskSectors - start - mft < 2)
    return false;
  uint8_t record[1024];
  search.Read(start + mft, record);
  return FixUpFileRecord(record);
}

std::optional<FoundVolume> NtfsAt(LostSearch& search, uint64_t sector, ByteView boot) {
  const uint64_t total = boot.Sub(0, kDefaultSectorSize).Le64(NtfsBoot::kTotalSectors);
  // The backup boot sector lies at start + total, the volume's last sector.
  if (total == 0 || total >= kMaxSector || !Addressable(sector, total + 1)) return std::nullopt;
  if (!NtfsMftCheck(search, sector, boot)) return std::nullopt;
  return Volume(FsKind::kNtfs, sector, total + 1, boot);
}

std::optional<FoundVolume> NtfsFromBackup(LostSearch& search, uint64_t sector, ByteView backup) {
  const uint64_t total = backup.Sub(0, kDefaultSectorSize).Le64(NtfsBoot::kTotalSectors);
  if (total == 0 || total > sector) return std::nullopt;
  return NtfsAt(search, sector - total, backup);
}

std::optional<FoundVolume> Fat32At(LostSearch& search, uint64_t start, ByteView boot) {
  const ByteView b = boot.Sub(0, kDefaultSectorSize);
  const uint64_t count = b.Le32(BootSector::kTotalSectors32);
  if (count == 0 || !Addressable(start, count)) return std::nullopt;
  // The backup copy a few sectors into a volume passes the boot-sector test
  // too; it is told apart by where the first FAT begins.
  const uint64_t reserved = b.Le16(BootSector::kReservedSectors);
  const uint64_t backupAt = b.Le16(FatBoot::kBackupBootSector);
  if (backupAt != 0 && start >= backupAt && !Fat32TableStartsAt(search, start + reserved) &&
      Fat32TableStartsAt(search, start - backupAt + reserved))
    return std::nullopt;
  return Volume(FsKind::kFat32, start, count, boot);
}

std::optional<FoundVolume> Fat16At(uint64_t start, ByteView boot) {
  const ByteView b = boot.Sub(0, kDefaultSectorSize);
  uint64_t count = b.Le32(BootSector::kTotalSectors32);
  if (count == 0) count = b.Le16(BootSector::kTotalSectors16);
  if (count == 0 || !Addressable(start, count)) return std::nullopt;
  return Volume(FsKind::kFat16, start, count, boot);
}

bool Fat16TableStartsAt(LostSearch& search, uint64_t sector) {
  const uint32_t first = ByteView(search.ReadSector(sector)).Le32(0);
  return first == 0xFFFFFFF8 || first == 0x7FFFFFF8;
}

uint8_t RoleFromExtendedBootRecord(LostSearch& search, uint64_t start) {
  // Where partitioning tools put the extended boot record of a logical
  // partition; never sector 0, which holds the MBR.
  for (uint64_t distance : {uint64_t{1}, uint64_t{63}, uint64_t{2048}}) {
    if (start <= distance) continue;
    BootSectorBytes s = search.ReadSector(start - distance);
    ByteView ebr(s);
    const uint8_t type = ebr.U8(446 + 4);
    if (ebr.U8(510) != 0x55 || ebr.U8(511) != 0xAA || type == 0 || type == 0x05 || type == 0x0F) continue;
    if (ebr.Le32(446 + 8) == distance) return 2;
  }
  return 1;
}

std::string SectorPlaceText(uint64_t start) {
  return FormatText("0,0,1;%llu;", static_cast<unsigned long long>(start));
}

PartitionRecord* AddVolume(LostSearch& search, const FoundVolume& volume, const std::string& placeText) {
  if (ListsPartition(search.disk, volume.start, volume.fsKind)) return nullptr;
  PartitionRecord record;
  record.fsKind = volume.fsKind;
  record.startSector = volume.start;
  record.sectorCount = volume.count;
  record.role = volume.role ? volume.role : RoleFromExtendedBootRecord(search, volume.start);
  record.volumeLabel = ReadVolumeLabelWithBootSector(search.source, volume.start, volume.fsKind, volume.boot);
  PartitionRecord* added = AddFoundPartition(search.disk, std::move(record));
  if (!added) return nullptr;
  std::string line = added->volumeLabel + FsWord(added->fsKind) + ";" + placeText +
                     FormatText("%llu;", static_cast<unsigned long long>(added->sectorCount)) +
                     (added->role == 2 ? "逻辑;" : "主;");
  search.progress.SetText(line);
  search.report.found.push_back({added->name, line});
  return added;
}

}  // namespace quorvel

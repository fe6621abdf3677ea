// The tests the deep scan applies to every sector, in order: boot sectors,
// NTFS file records, FAT copies, carving, FAT directory data.
#include <cstring>

#include "core/byte_view.h"
#include "fs/boot_sector_layout.h"
#include "fs/fat/fat_boot_sector_layout.h"
#include "fs/fat/fat_dir_entry_layout.h"
#include "fs/fat/fat_directory_sweep.h"
#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_name_run.h"
#include "fs/ntfs/mft_record_layout.h"
#include "fs/ntfs/ntfs_boot_sector_layout.h"
#include "scan/deep_scan_state.h"

namespace quorvel {

namespace {

constexpr uint64_t kSectorBytes = 512;
constexpr uint64_t kFat32LongestFat = 10240;  // sectors between two FAT32 copies at most
constexpr uint64_t kFat16LongestFat = 400;
constexpr uint64_t kFragmentGap = 29;  // sectors between a fragment's end and a record that extends it
constexpr uint64_t kFat16RootSectors = 32;
constexpr uint32_t kDefaultSectorsPerCluster = 8;

bool IsPowerOfTwoUpTo(uint64_t value, uint64_t largest) {
  return value >= 1 && value <= largest && (value & (value - 1)) == 0;
}

// Sectors per cluster from an NTFS boot sector's byte 0x0D: the count, or
// for clusters above 64 KiB the negated power of two.
uint64_t NtfsSectorsPerCluster(uint8_t value) {
  if (value <= 0x80) return value;
  const unsigned shift = 256u - value;
  return shift < 24 ? uint64_t{1} << shift : 0;
}

// The first sector of a FAT32 FAT: media entry, then an end-of-chain entry.
// (Plain loads: these run on every sector.)
bool IsFat32FatStart(const uint8_t* s) {
  const ByteView sector(s, kSectorBytes);
  const uint32_t second = sector.Le32(4);
  return sector.Le32(0) == 0x0FFFFFF8 && (second == 0xFFFFFFFF || second == 0x0FFFFFFF);
}

bool IsFat16FatStart(const uint8_t* s) { return (ByteView(s, kSectorBytes).Le32(0) & 0x7FFFFFFF) == 0x7FFFFFF8; }

uint32_t FirstCluster(ByteView entry) {
  return (uint32_t{entry.Le16(FatDirEntry::kFirstClusterHigh)} << 16) | entry.Le16(FatDirEntry::kFirstClusterLow);
}

// "." and ".." with size 0, their names compared over `nameBytes` bytes.
bool OpensSubfolder(ByteView s, size_t nameBytes) {
  static const char kDot[] = ".   ";
  static const char kDotDot[] = "..  ";
  const ByteView dotDot = s.Sub(FatDirEntry::kSize);
  return s.Matches(FatDirEntry::kName, std::string_view(kDot, nameBytes)) &&
         dotDot.Matches(FatDirEntry::kName, std::string_view(kDotDot, nameBytes)) &&
         s.Le32(FatDirEntry::kFileSize) == 0 && dotDot.Le32(FatDirEntry::kFileSize) == 0;
}

bool LooksLikeFileRecord(const uint8_t* s) { return std::memcmp(s, "FILE", 4) == 0 || std::memcmp(s, "FHLD", 4) == 0; }

}  // namespace

void FatCopyTracker::Note(uint64_t sector, uint64_t limit) {
  if (!hasFirst || sector < first || sector - first > limit) {
    Clear();
    hasFirst = true;
    first = sector;
    return;
  }
  hasSecond = true;
  second = sector;
  length = sector - first;
}

DeepScanner::DeepScanner(DiskRecord& disk, const ByteSource& source, uint64_t startSector, uint64_t sectorCount,
                         bool addPartitions)
    : disk_(disk),
      source_(source),
      start_(startSector),
      end_(startSector + sectorCount),
      addPartitions_(addPartitions) {}

bool DeepScanner::RecordAt(uint64_t number, uint8_t* record) const {
  source_.ReadAt(number * kSectorBytes, std::span<uint8_t>(record, 1024));
  return FixUpFileRecord(std::span<uint8_t>(record, 1024));
}

bool SectorMayMatter(const uint8_t* s) {
  // Boot sectors; NTFS file records; the starts of FAT32 and FAT16 tables;
  // subfolders ("." first) and other directory sectors; carved files.
  return (s[0x1FE] == 0x55 && s[0x1FF] == 0xAA) || LooksLikeFileRecord(s) || IsFat32FatStart(s) || IsFat16FatStart(s) ||
         s[0] == '.' || (s[0] != 0 && FirstEntryMayBeDirectory(s)) || MayStartCarvedFile(s);
}

uint64_t DeepScanner::TestSector(const uint8_t* sector, uint64_t number) {
  if (!SectorMayMatter(sector)) return 1;
  if (sector[0x1FE] == 0x55 && sector[0x1FF] == 0xAA) {
    const ByteView boot(sector, kSectorBytes);
    if (IsNtfsBootSector(boot)) {
      NtfsBootSector(sector, number);
      return 1;
    }
    if (IsFat32BootSector(boot)) {
      Fat32BootSector(sector, number);
      return 1;
    }
    if (IsFat16BootSector(boot)) {
      Fat16BootSector(sector, number);
      return 1;
    }
  }
  if (LooksLikeFileRecord(sector)) {
    // Fixed up in a copy: the block stays as it was read.
    std::memcpy(record_, sector, sizeof record_);
    if (FixUpFileRecord(record_)) {
      FileRecord(record_, number);
      FatTests(sector, number);
      return 1;
    }
  }
  if (IsFat32FatStart(sector)) {
    fat32_.Note(number, kFat32LongestFat);
    fat16_.Clear();
    FatTests(sector, number);
    return 1;
  }
  if (MayStartCarvedFile(sector)) {
    const CarveResult carved = CarveAt(disk_, source_, sector, number, end_, scratch_);
    if (carved.carvedLength > 0) return (carved.carvedLength + kSectorBytes - 1) / kSectorBytes;
  }
  FatTests(sector, number);
  return 1;
}

void DeepScanner::NtfsBootSector(const uint8_t* sector, uint64_t number) {
  const ByteView boot(sector, kSectorBytes);
  const uint64_t spc = NtfsSectorsPerCluster(boot.U8(BootSector::kSectorsPerCluster));
  const uint64_t mftCluster = boot.Le64(NtfsBoot::kMftCluster);
  const uint64_t total = boot.Le64(NtfsBoot::kTotalSectors);
  if (spc == 0 || mftCluster > UINT64_MAX / 512 / spc) return;
  const uint64_t mftOffset = spc * mftCluster;
  uint64_t start;
  uint8_t record[1024];
  if (RecordAt(number + mftOffset, record)) {
    start = number;
  } else if (total <= number && RecordAt(number - total + mftOffset, record)) {
    start = number - total;  // the backup in the volume's last sector
  } else {
    return;
  }
  if (Listed(FsFamily::kNtfs, start, 1u << 2)) return;
  if (PartitionRecord* p = Add(start, total, FsKind::kNtfs, 2)) {
    p->sectorsPerCluster = static_cast<uint32_t>(spc);
    p->ntfs.mftStartSector = start + mftOffset;
  }
}

void DeepScanner::Fat32BootSector(const uint8_t* sector, uint64_t number) {
  const ByteView boot(sector, kSectorBytes);
  const uint64_t hidden = boot.Le32(BootSector::kHiddenSectors);
  // The hidden-sectors field names the start, also from the backup 6 sectors on.
  const uint64_t start = hidden == number || hidden + 6 == number ? hidden : number;
  uint8_t fat[kSectorBytes];
  source_.ReadAt((start + boot.Le16(BootSector::kReservedSectors)) * kSectorBytes, fat);
  if (!IsFat32FatStart(fat)) return;
  if (Listed(FsFamily::kFat32, start, (1u << 0) | (1u << 2), true)) return;
  if (PartitionRecord* p = Add(start, boot.Le32(BootSector::kTotalSectors32), FsKind::kFat32, 2)) {
    p->sectorsPerCluster = boot.U8(BootSector::kSectorsPerCluster);
    p->fat.sizeSectors = boot.Le32(FatBoot::kFat32Size);
  }
}

void DeepScanner::Fat16BootSector(const uint8_t* sector, uint64_t number) {
  const ByteView boot(sector, kSectorBytes);
  const uint64_t count32 = boot.Le32(BootSector::kTotalSectors32);
  const uint64_t count = count32 != 0 ? count32 : boot.Le16(BootSector::kTotalSectors16);
  if (Listed(FsFamily::kFat16, number, 1u << 2)) return;
  if (PartitionRecord* p = Add(number, count, FsKind::kFat16, 2)) {
    p->sectorsPerCluster = boot.U8(BootSector::kSectorsPerCluster);
    p->fat.sizeSectors = boot.Le16(BootSector::kFat16Size);
  }
}

void DeepScanner::NoteMftFragment(uint64_t number) {
  MftFragmentList& list = disk_.mftFragments;
  // A fragment's count covers its records: the newest one's offset plus its
  // two sectors, so the fragment sweep reads the newest record too.
  auto extend = [&](MftFragmentList::iterator f) {
    if (number < f->startSector || number - f->startSector > UINT32_MAX - 2) return false;
    if (number > f->startSector + f->sectorCount + kFragmentGap) return false;
    f->sectorCount = std::max<uint32_t>(f->sectorCount, static_cast<uint32_t>(number - f->startSector + 2));
    fragment_ = f;
    haveFragment_ = true;
    return true;
  };
  if (haveFragment_ && extend(fragment_)) return;
  // Kept in sector order; a stretch an earlier run recorded is extended, not
  // recorded twice.
  auto next = list.begin();
  while (next != list.end() && next->startSector <= number) ++next;
  if (next != list.begin() && extend(std::prev(next))) return;
  fragment_ = list.insert(next, MftFragment{number, 2});
  haveFragment_ = true;
}

void DeepScanner::FileRecord(const uint8_t* record, uint64_t number) {
  NoteMftFragment(number);
  fileRecordSeen_ = true;
  const ByteView r(record, 1024);
  if (r.Le32(MftRecord::kRecordNumber) != 0) return;
  NameAndFirstRun mft, mirror;
  if (!ReadNameAndFirstRun(r, mft) || mft.name != "$MFT") return;
  uint8_t next[1024];
  if (!RecordAt(number + 2, next) || !ReadNameAndFirstRun(ByteView(next), mirror) || mirror.name != "$MFTMirr") return;
  const MftSighting sighting{number, mft.firstCluster, mirror.firstCluster, mft.totalClusters};
  // Record 5 (the root folder) follows only in the MFT itself, not in its mirror.
  (RecordAt(number + 10, next) ? validSightings_ : otherSightings_).push_back(sighting);
}

void DeepScanner::FatTests(const uint8_t* sector, uint64_t number) {
  const ByteView s(sector, kSectorBytes);
  if (IsFat16FatStart(sector)) {
    fat16_.Note(number, kFat16LongestFat);
    fat32_.Clear();
  } else if (sector[0] == '.' && sector[1] == ' ' && IsSubfolderFirstSector(s)) {
    disk_.directorySectors.insert(number);
    directoryStarts_.emplace(number, FirstCluster(s));
  } else if (sector[0] != 0 && FirstEntryMayBeDirectory(sector) && IsFatDirectorySector(s)) {
    disk_.directorySectors.insert(number);
  }
  if (sector[0] == '.') RebuildFromSubfolder(sector, number);
}

void DeepScanner::RebuildFromSubfolder(const uint8_t* sector, uint64_t number) {
  const ByteView s(sector, kSectorBytes);
  const uint64_t c = FirstCluster(s);
  // Cluster c starts `number`; the data area (cluster 2) follows the two FATs.
  auto spcFrom = [&](uint64_t dataStart) -> uint64_t {
    if (c < 3) return kDefaultSectorsPerCluster;
    return (number - dataStart) / (c - 2);
  };
  if (fat32_.Paired() && OpensSubfolder(s, 4) && number > fat32_.first + 2 * fat32_.length + 1) {
    const uint64_t spc = spcFrom(fat32_.first + 2 * fat32_.length);
    if (IsPowerOfTwoUpTo(spc, 128) && fat32_.first >= 2 && spc * c <= number) {
      AddFatFromTraces(true, fat32_.first - 2, static_cast<uint32_t>(spc), fat32_.length, number - spc * c);
      fat32_.Clear();
    }
  }
  if (fat16_.Paired() && OpensSubfolder(s, 2) && number > fat16_.second + fat16_.length + 33) {
    const uint64_t spc = spcFrom(fat16_.first + 2 * fat16_.length + kFat16RootSectors);
    if (IsPowerOfTwoUpTo(spc, 128) && fat16_.first >= 6 && spc * c <= number) {
      AddFatFromTraces(false, fat16_.first - 6, static_cast<uint32_t>(spc), fat16_.length, number - spc * c);
      fat16_.Clear();
    }
  }
}

}  // namespace quorvel

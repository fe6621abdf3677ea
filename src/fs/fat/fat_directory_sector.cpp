// The per-sector test of the FAT directory sweep. It runs on every sector of a
// volume, so it rejects early and never allocates.
#include "fs/fat/fat_dir_entry_layout.h"
#include "fs/fat/fat_directory_sweep.h"
#include "fs/fat/fat_names.h"

namespace quorvel {

namespace {

using namespace FatDirEntry;

constexpr size_t kSectorBytes = 512;
constexpr size_t kEntries = kSectorBytes / kSize;
constexpr uint16_t kLatestTime = 0xBF7E;    // 23:59:58
constexpr uint16_t kEarliestDate = 0x2821;  // 2000-01-01
constexpr uint16_t kLatestDate = 0xC99F;    // 2080-12-31

bool IsAllZero(ByteView entry) {
  for (size_t i = 0; i < kSize; i += 8)
    if (entry.Le64(i) != 0) return false;
  return true;
}

// Fields every short entry in use or deleted must have sane.
bool ShortEntryFieldsPlausible(ByteView e) {
  for (size_t i = 0; i < kShortNameLength; ++i)
    if (e.U8(kName + i) == 0) return false;
  const uint32_t size = e.Le32(kFileSize);
  // Data without a cluster to hold it.
  if (size != 0 && e.Le16(kFirstClusterLow) <= 1 && e.Le16(kFirstClusterHigh) == 0) return false;
  if (e.Le16(kCreationTime) > kLatestTime || e.Le16(kWriteTime) > kLatestTime) return false;
  const uint16_t created = e.Le16(kCreationDate);
  const uint16_t written = e.Le16(kWriteDate);
  if (created < kEarliestDate || created > kLatestDate) return false;
  if (written < kEarliestDate || written > kLatestDate) return false;
  if (e.Le16(kAccessDate) < created) return false;  // accessed before it existed
  return true;
}

}  // namespace

bool IsSubfolderFirstSector(ByteView sector) {
  return sector.Has(0, 2 * kSize) && sector.U8(0) == '.' && sector.U8(1) == ' ' && sector.U8(kSize) == '.' &&
         sector.U8(kSize + 1) == '.' && sector.Le32(kFileSize) == 0 && sector.Le32(kSize + kFileSize) == 0;
}

bool IsFatDirectorySector(ByteView sector) {
  if (!sector.Has(0, kSectorBytes)) return false;
  bool labelSeen = false;
  // A live long-name run is open directly before the current entry; its last
  // order number tells whether it was closed (order 1).
  bool afterLiveLongName = false;
  uint8_t lastOrder = 0;
  uint8_t lastChecksum = 0;

  for (size_t i = 0; i < kEntries; ++i) {
    const ByteView e = sector.Sub(i * kSize, kSize);
    const uint8_t attribute = e.U8(kAttribute);
    const uint8_t caseByte = e.U8(kCaseFlags);
    if (attribute >= 0x80) return false;
    if (attribute == kVolumeLabelAttribute && caseByte == 0) {
      if (labelSeen) return false;
      labelSeen = true;
    } else if ((caseByte & ~(kLowerCaseName | kLowerCaseExtension)) != 0) {  // only 0, 0x08, 0x10, 0x18
      return false;
    }

    if (attribute == kLongNameAttribute) {
      if (e.Le16(FatLongNameEntry::kFirstCluster) != 0) return false;
      if (e.U8(kName) == kDeletedMark) {
        afterLiveLongName = false;
        continue;
      }
      const uint8_t order = e.U8(FatLongNameEntry::kOrder) & FatLongNameEntry::kOrderMask;
      if (afterLiveLongName && lastOrder != 1 && order + 1 != lastOrder) return false;
      lastOrder = order;
      lastChecksum = e.U8(FatLongNameEntry::kChecksum);
      afterLiveLongName = true;
      continue;
    }

    if (e.U8(kName) == 0) {
      if (!IsAllZero(e)) return false;
      afterLiveLongName = false;
      continue;
    }
    if (e.U8(kName) == kDeletedMark) {
      if (e.Le16(kFirstClusterHigh) != 0) return false;
    } else if (afterLiveLongName) {
      // The run must end with order 1 right before its short entry, and
      // belong to this short name.
      if (lastOrder != 1) return false;
      if (FatShortNameChecksum(e) != lastChecksum) return false;
    }
    afterLiveLongName = false;
    if (!ShortEntryFieldsPlausible(e)) return false;
  }
  return true;
}

}  // namespace quorvel

// The three chained searches that run before the main pass. They follow
// volumes from where the last one ended instead of sweeping the disk:
// forward from the disk's start behind every NTFS volume, backward from the
// disk's end through backup boot sectors, and from the MFT at the place where
// Windows puts it on volumes with 4 KiB clusters.
//
// Every step of a chain moves strictly forward (or backward) on the disk and
// tests each sector at most once, so a chain of corrupt boot sectors that
// point at each other, or past the disk, ends.
#include <cstring>
#include <set>
#include <vector>

#include "core/byte_view.h"
#include "fs/boot_sector_layout.h"
#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/mft_record_layout.h"
#include "fs/ntfs/ntfs_boot_sector_layout.h"
#include "scan/lost_partition_search.h"

namespace quorvel {

namespace {

constexpr uint64_t kWindowSectors = 0x200000 / kDefaultSectorSize;  // the chains' 2 MiB windows
constexpr uint64_t kDefaultMftSector = 0x600000;                    // cluster 0xC0000 of 4 KiB
constexpr uint64_t kPartitionOffsets[] = {63, 2048};
// The backward chain ends below this sector (the MBR's track).
constexpr uint64_t kBackwardChainFloor = 64;

// The 2 MiB-aligned stretch of the disk that holds a sector, read once while
// a chain walks through it.
class WindowCache {
 public:
  explicit WindowCache(LostSearch& search) : search_(search), bytes_(kWindowSectors * kDefaultSectorSize) {}
  const uint8_t* Sector(uint64_t sector) {
    const uint64_t base = sector / kWindowSectors * kWindowSectors;
    if (base != base_) {
      search_.Read(base, bytes_);
      base_ = base;
    }
    return bytes_.data() + (sector - base) * kDefaultSectorSize;
  }

 private:
  LostSearch& search_;
  std::vector<uint8_t> bytes_;
  uint64_t base_ = UINT64_MAX;
};

// The unnamed $DATA of a fixed-up file record.
RecordDetails UnnamedData(ByteView record) {
  RecordDetails details;
  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  ListAttributes(record, attributes);  // a walk cut short keeps what it listed
  for (const auto& [type, offset] : attributes)
    if (type == NtfsAttr::kData) DecodeAttributeValue(record.Sub(offset), details);
  return details;
}

bool ReadFileRecord(LostSearch& search, uint64_t sector, uint8_t* record) {
  if (sector >= search.diskSectors || search.diskSectors - sector < 2) return false;
  search.Read(sector, std::span<uint8_t>(record, kMftRecordSize));
  return FixUpFileRecord(std::span<uint8_t>(record, kMftRecordSize));
}

// The NTFS volume whose MFT a file record at `sector` belongs to, when that
// MFT lies at the default place: record 0 and the volume bitmap's record 6
// must both be valid. Sectors per cluster come from record 0's first run, the
// size from the bitmap's length (one bit per cluster).
std::optional<FoundVolume> VolumeOfDefaultMft(LostSearch& search, uint64_t sector) {
  uint8_t record[kMftRecordSize];
  if (!ReadFileRecord(search, sector, record)) return std::nullopt;
  ByteView header(record, kMftRecordSize);
  const uint64_t recordBytes = header.Le32(MftRecord::kAllocatedSize);
  if (recordBytes < kMftRecordSize || recordBytes % kDefaultSectorSize != 0) return std::nullopt;
  const uint64_t recordSectors = recordBytes / kDefaultSectorSize;
  // Records of the older layout (update sequence at 0x2A) store no number.
  const uint64_t number = header.Le16(MftRecord::kUpdateSequenceOffset) == MftRecord::kOlderLayoutUsaOffset
                              ? 0
                              : header.Le32(MftRecord::kRecordNumber);
  if (number * recordSectors > sector) return std::nullopt;
  const uint64_t mftSector = sector - number * recordSectors;
  if (number != 0 && !ReadFileRecord(search, mftSector, record)) return std::nullopt;
  RecordDetails mft = UnnamedData(record);
  if (!ReadFileRecord(search, mftSector + 6 * recordSectors, record)) return std::nullopt;
  RecordDetails bitmap = UnnamedData(record);
  if (!mft.nonResident || mft.dataRuns.empty() || !bitmap.hasData || mftSector < kDefaultMftSector) return std::nullopt;
  const uint64_t mftCluster = mft.dataRuns.front().startCluster;
  if (mftCluster == 0 || kDefaultMftSector % mftCluster != 0) return std::nullopt;
  const uint64_t perCluster = kDefaultMftSector / mftCluster;
  // NTFS clusters are 1 to 128 sectors, a power of two.
  if (perCluster > 128 || (perCluster & (perCluster - 1)) != 0) return std::nullopt;
  const uint64_t bitmapBytes = bitmap.dataRealSize;
  if (bitmapBytes == 0 || bitmapBytes > UINT64_MAX / kDefaultSectorSize / (8 * perCluster)) return std::nullopt;

  FoundVolume v;
  v.fsKind = FsKind::kNtfs;
  v.start = mftSector - kDefaultMftSector;
  v.count = 8 * perCluster * bitmapBytes;
  v.role = 1;
  // The fields the label reader takes from a boot sector: where the MFT is.
  v.boot[0x0D] = static_cast<uint8_t>(perCluster);
  for (size_t i = 0; i < 8; ++i) v.boot[0x30 + i] = static_cast<uint8_t>(mftCluster >> (8 * i));
  return v;
}

}  // namespace

void ForwardChainSearch(LostSearch& search) {
  WindowCache cache(search);
  // Windows still to search, by first sector; they are taken in disk order,
  // and `tested` ends where the searched ones end, so no sector is tested twice.
  std::set<uint64_t> windows{0};
  uint64_t tested = 0;
  while (!windows.empty() && !search.Stopped()) {
    const uint64_t window = *windows.begin();
    windows.erase(windows.begin());
    // Fewer than 2 MiB left before the disk's end: this branch ends.
    if (window + kWindowSectors > search.diskSectors) continue;
    for (uint64_t sector = std::max(window, tested); sector < window + kWindowSectors; ++sector) {
      const ByteView s(cache.Sector(sector), kDefaultSectorSize);
      if (IsNtfsBootSector(s)) {
        const uint64_t total = s.Le64(NtfsBoot::kTotalSectors);
        if (total == 0) continue;
        if (auto v = NtfsAt(search, sector, s)) AddVolume(search, *v, SectorPlaceText(sector));
        // Search on behind the volume's last sector (its backup boot sector).
        if (total < search.diskSectors - sector - 1) windows.insert(sector + total + 1);
      } else if (IsFat32BootSector(s)) {
        if (auto v = Fat32At(search, sector, s)) AddVolume(search, *v, SectorPlaceText(sector));
      } else if (IsFat16BootSector(s)) {
        const uint64_t firstFat = sector + s.Le16(BootSector::kReservedSectors);
        if (Fat16TableStartsAt(search, firstFat))
          if (auto v = Fat16At(sector, s)) AddVolume(search, *v, SectorPlaceText(sector));
      }
    }
    tested = std::max(tested, window + kWindowSectors);
  }
}

void BackwardChainSearch(LostSearch& search) {
  WindowCache cache(search);
  // The window is the 2 MiB that end at `end`: at first the disk's end, then
  // the first sector of the volume found last. Its sectors are tested from
  // the top down, so the volume that ends nearest to `end` is taken.
  uint64_t end = search.diskSectors;
  uint64_t next = end;  // every sector from here up is tested
  while (end >= kBackwardChainFloor && !search.Stopped()) {
    const uint64_t windowStart = end > kWindowSectors ? end - kWindowSectors : 0;
    bool found = false;
    for (next = std::min(next, end); next > windowStart && !found;) {
      const uint64_t sector = --next;
      const ByteView s(cache.Sector(sector), kDefaultSectorSize);
      if (!IsNtfsBootSector(s)) continue;
      BootSectorBytes backup;
      std::memcpy(backup.data(), s.data(), kDefaultSectorSize);
      const uint64_t total = ByteView(backup).Le64(NtfsBoot::kTotalSectors);
      if (total == 0 || total > sector) continue;
      const uint64_t start = sector - total;
      // The volume's own boot sector when it is intact; when it was
      // overwritten, the backup's fields still find the MFT.
      BootSectorBytes first = search.ReadSector(start);
      std::optional<FoundVolume> v;
      if (IsNtfsBootSector(ByteView(first))) v = NtfsAt(search, start, ByteView(first));
      if (!v) v = NtfsAt(search, start, ByteView(backup));
      if (!v) continue;
      AddVolume(search, *v, SectorPlaceText(start));
      end = start;
      found = true;
    }
    if (!found) break;
  }
}

void DefaultMftProbeSearch(LostSearch& search) {
  // Where to look next: behind each volume found, in disk order; each place once.
  std::set<uint64_t> places{0};
  uint64_t lastPlace = 0;
  while (!places.empty() && !search.Stopped()) {
    const uint64_t place = *places.begin();
    places.erase(places.begin());
    lastPlace = place;
    for (uint64_t offset : kPartitionOffsets) {
      const uint64_t sector = place + kDefaultMftSector + offset;
      if (sector >= search.diskSectors) break;
      std::optional<FoundVolume> v = VolumeOfDefaultMft(search, sector);
      if (!v) continue;
      AddVolume(search, *v, SectorPlaceText(v->start));
      const uint64_t behind = v->start + v->count;
      if (behind > lastPlace) places.insert(behind);
    }
  }
}

}  // namespace quorvel

// Opening a FAT32 or FAT16 partition: geometry from the boot sector or a
// search for the FATs, then the directory walk or the rebuild.
#include "fs/fat/fat_volume.h"

#include <algorithm>
#include <vector>

#include "fs/fat/fat_boot_sector_layout.h"
#include "fs/fat/fat_directory_parser.h"
#include "fs/fat/fat_names.h"
#include "fs/fat/fat_rebuild.h"
#include "fs/fs_recognition.h"
#include "io/careful_read.h"
#include "io/volume_source.h"

namespace quorvel {

namespace {

constexpr uint32_t kFat16RootEntries = 512;
constexpr uint32_t kFat16RootSectors = kFat16RootEntries * kFatEntrySize / kFatSectorSize;  // 32
// 2^28 clusters of 4 bytes: no FAT32 volume needs more.
constexpr uint64_t kMaxFatBytes = 1ull << 30;

// Values used during one run only (sectors relative to the partition's start).
struct FatLayout {
  uint32_t reserved = 0;
  uint32_t numberOfFats = 0;
  uint32_t rootCluster = 0;  // FAT32
  uint64_t rootStart = 0;    // FAT16
  uint32_t rootEntries = 0;  // FAT16
};

struct Geometry {
  uint32_t sectorsPerCluster = 0;
  uint32_t fatSize = 0;
  FatLayout layout;
};

bool IsPowerOfTwoUpTo128(uint32_t v) { return v >= 1 && v <= 128 && (v & (v - 1)) == 0; }

// Values that would divide by zero, point outside the partition or ask for an
// absurd FAT are not a file system to read.
bool GeometryIsSane(const Geometry& g, const PartitionRecord& partition, bool fat32) {
  const FatLayout& l = g.layout;
  if (!IsPowerOfTwoUpTo128(g.sectorsPerCluster) || g.fatSize == 0 || l.reserved == 0 || l.numberOfFats == 0)
    return false;
  if (static_cast<uint64_t>(g.fatSize) * kFatSectorSize > kMaxFatBytes) return false;
  const uint64_t metadata = static_cast<uint64_t>(l.reserved) + static_cast<uint64_t>(l.numberOfFats) * g.fatSize +
                            (fat32 ? 0 : kFat16RootSectors);
  if (partition.sectorCount != 0 && metadata >= partition.sectorCount) return false;
  if (fat32) {
    const uint64_t entries = static_cast<uint64_t>(g.fatSize) * kFatSectorSize / 4;
    if (l.rootCluster < 2 || l.rootCluster >= entries) return false;
  }
  return true;
}

bool GeometryFromBootSector(ByteView boot, bool fat32, Geometry& g) {
  if (fat32 ? !IsFat32BootSector(boot) : !IsFat16BootSector(boot)) return false;
  g.sectorsPerCluster = boot.U8(BootSector::kSectorsPerCluster);
  g.layout.reserved = boot.Le16(BootSector::kReservedSectors);
  g.layout.numberOfFats = boot.U8(BootSector::kNumberOfFats);
  if (fat32) {
    g.fatSize = boot.Le32(FatBoot::kFat32Size);
    g.layout.rootCluster = boot.Le32(FatBoot::kRootCluster);
  } else {
    g.fatSize = boot.Le16(BootSector::kFat16Size);
    g.layout.rootStart =
        static_cast<uint64_t>(g.layout.reserved) + static_cast<uint64_t>(g.layout.numberOfFats) * g.fatSize;
    g.layout.rootEntries = kFat16RootEntries;
  }
  return true;
}

// The media entries at the start of a FAT.
bool IsFatStart(ByteView s, bool fat32) {
  const uint32_t first = s.Le32(0);
  if (fat32) {
    const uint32_t second = s.Le32(4);
    return first == 0x0FFFFFF8 && (second == 0xFFFFFFFF || second == 0x0FFFFFFF);
  }
  return first == 0xFFFFFFF8 || first == 0x7FFFFFF8;
}

class VolumeReader {
 public:
  VolumeReader(const ByteSource& source, PartitionRecord& partition) : source_(source), partition_(partition) {}

  // Reads `sectors` sectors at a partition-relative sector into the reused buffer.
  ByteView Read(uint64_t relativeSector, uint32_t sectors) {
    buffer_.assign(static_cast<size_t>(sectors) * kFatSectorSize, 0);
    ReadFatSectors(source_, partition_.startSector + relativeSector, buffer_);
    return buffer_;
  }

  // True when sector `relative` lies inside the partition (or its size is unknown).
  bool Inside(uint64_t relative) const { return partition_.sectorCount == 0 || relative < partition_.sectorCount; }

  // First FAT start in blocks of blockSectors read from `from`; false when none.
  bool FindFatStart(uint64_t from, uint32_t blockSectors, uint64_t maxReads, bool fat32, uint64_t& found) {
    for (uint64_t r = 0; r < maxReads; ++r) {
      const uint64_t base = from + r * blockSectors;
      if (!Inside(base)) return false;
      const ByteView data = Read(base, blockSectors);
      for (uint32_t i = 0; i < blockSectors; ++i) {
        if (IsFatStart(data.Sub(static_cast<size_t>(i) * kFatSectorSize, kFatSectorSize), fat32)) {
          found = base + i;
          return true;
        }
      }
    }
    return false;
  }

  // Sectors per cluster from the first subfolder of the data area: its "."
  // entry at s0 + i names cluster c, so a cluster is i / (c - 2) sectors.
  uint32_t SearchSectorsPerCluster(uint64_t s0) {
    constexpr uint32_t kBlock = 4096;
    for (uint64_t r = 0; r < 1024; ++r) {
      const uint64_t base = s0 + 1 + r * kBlock;
      if (!Inside(base)) return 0;
      const ByteView data = Read(base, kBlock);
      for (uint32_t k = 0; k < kBlock; ++k) {
        const ByteView s = data.Sub(static_cast<size_t>(k) * kFatSectorSize, kFatSectorSize);
        if (s.U8(0) != '.' || s.U8(kFatEntrySize) != '.' || s.U8(kFatEntrySize + 1) != '.') continue;
        const uint32_t c = FatEntryFirstCluster(s);
        if (c <= 2) continue;
        const uint64_t i = base + k - s0;
        // A "." sector that is not where its own cluster would start says
        // nothing about the cluster size; keep looking.
        if (i % (c - 2) != 0 || !IsPowerOfTwoUpTo128(static_cast<uint32_t>(std::min<uint64_t>(i / (c - 2), 256))))
          continue;
        return static_cast<uint32_t>(i / (c - 2));
      }
    }
    return 0;
  }

 private:
  const ByteSource& source_;
  PartitionRecord& partition_;
  std::vector<uint8_t> buffer_;
};

// The search for a damaged boot sector: two FATs, the first at the reserved
// sector count, the second FAT size sectors later.
bool SearchGeometry(VolumeReader& reader, const PartitionRecord& partition, bool fat32, Geometry& g) {
  uint64_t firstFat = 0, secondFat = 0;
  if (fat32) {
    if (!reader.FindFatStart(1, 38, 100, true, firstFat)) return false;
    // Bigger volumes have longer FATs than the first 10250 sectors; search on
    // as far as a volume of this size can need (1-sector clusters).
    const uint64_t longest = std::min<uint64_t>(partition.sectorCount / 128 + 2, kMaxFatBytes / kFatSectorSize);
    const uint64_t reads = std::max<uint64_t>(5, (longest + 2049) / 2050);
    if (!reader.FindFatStart(firstFat + 1, 2050, reads, true, secondFat)) return false;
  } else {
    if (!reader.FindFatStart(1, 36, 1, false, firstFat)) return false;
    if (!reader.FindFatStart(firstFat + 1, 2048, 1, false, secondFat)) return false;
  }
  if (firstFat > 0xFFFF || secondFat - firstFat > 0xFFFFFFFFull) return false;
  g.layout.reserved = static_cast<uint32_t>(firstFat);
  g.layout.numberOfFats = 2;
  g.fatSize = static_cast<uint32_t>(secondFat - firstFat);
  uint64_t s0 = firstFat + 2ull * g.fatSize;
  if (fat32) {
    g.layout.rootCluster = 2;
  } else {
    g.layout.rootStart = s0;
    g.layout.rootEntries = kFat16RootEntries;
    s0 += kFat16RootSectors;
  }
  uint32_t spc = reader.SearchSectorsPerCluster(s0);
  if (spc == 0 && !fat32) spc = partition.sectorsPerCluster;  // a volume without subfolders keeps the cached value
  g.sectorsPerCluster = spc;
  return spc != 0;
}

FatVolumeOutcome ReadRecordedTraces(const ByteSource& source, PartitionRecord& partition, DiskRecord& disk,
                                    ScanProgress& progress, bool fat32, uint32_t rootCluster) {
  progress.SetText(std::string());
  progress.Range(disk.directorySectors.size(), 1);
  MarkFatSpecialFolders(partition, rootCluster, false);
  FileTree& tree = *partition.tree;
  VisitedClusterSet visited;
  uint32_t counter = 0;
  const uint64_t spc = partition.sectorsPerCluster;
  const uint64_t last = partition.dataOrigin + static_cast<uint64_t>(FatEntryCount(partition, fat32)) * spc;
  std::vector<uint8_t> data;
  for (uint64_t s : disk.directorySectors) {
    if (s < partition.dataOrigin || s > last || (s - partition.dataOrigin) % spc != 0) continue;
    const uint32_t c = static_cast<uint32_t>((s - partition.dataOrigin) / spc);
    if (!visited.insert(c).second) continue;
    data.assign(spc * kFatSectorSize, 0);
    ReadFatSectors(source, s, data);
    progress.Step();
    if (progress.StopRequested()) return FatVolumeOutcome::kStopped;
    const ByteView d(data);
    const bool subfolder = d.U8(0) == '.' && d.U8(kFatEntrySize) == '.' && d.U8(kFatEntrySize + 1) == '.';
    // Both entries' sizes are 0; FAT16 looks at the 16-bit words at 52 and 60
    // (the high cluster word and the low size word of "..").
    const bool sizesZero =
        fat32 ? (d.Le32(FatDirEntry::kFileSize) == 0 && d.Le32(kFatEntrySize + FatDirEntry::kFileSize) == 0)
              : (d.Le16(kFatEntrySize + FatDirEntry::kFirstClusterHigh) == 0 &&
                 d.Le16(kFatEntrySize + FatDirEntry::kFileSize) == 0);
    if (!subfolder || !sizesZero) continue;
    FatFileEntry folder;
    folder.name = FormatText("%u", c);
    SetEntryState(folder.flags, kFolder);
    folder.firstCluster = c;
    FatFileEntry* placed = AddFatChild(tree.fatRoot, std::move(folder), false);
    tree.NormalEntryByCluster.emplace(c, placed);
    ++counter;
    progress.SetText(FormatText("%d 项被找到", static_cast<int>(counter)));
    bool goOn = fat32 ? ParseFat32Recorded(disk, source, data, *placed, partition, visited, progress, counter)
                      : ParseFat16Recorded(disk, source, data, *placed, partition, visited, progress, counter);
    if (!goOn) return FatVolumeOutcome::kStopped;
  }
  return FatVolumeOutcome::kListed;
}

FatVolumeOutcome NormalRead(const ByteSource& source, PartitionRecord& partition, ScanProgress& progress, bool fat32,
                            const FatLayout& layout) {
  const uint32_t entries = FatEntryCount(partition, fat32);
  progress.SetText(std::string());
  progress.Range(fat32 ? entries : partition.fat.sizeSectors / 2, 1);
  // The FAT is held only as far as the partition and the source reach: a
  // boot sector claiming a huge FAT on a small image must not make us
  // allocate it. What it claims beyond that counts as unreadable.
  const uint64_t fatStart = (partition.startSector + layout.reserved) * kFatSectorSize;
  const uint64_t limit = PartitionReadLimit(source, partition.startSector, partition.sectorCount, kFatSectorSize);
  const uint64_t claimed = static_cast<uint64_t>(partition.fat.sizeSectors) * kFatSectorSize;
  const uint64_t held = std::min(claimed, limit > fatStart ? limit - fatStart : 0);
  partition.fat.table.assign(static_cast<size_t>(held), 0);
  const CarefulReadResult fatRead =
      ReadCarefully(source, fatStart, partition.fat.table, partition.fat.table.size(), limit, kFatSectorSize);
  partition.fat.unreadableBytes = claimed - fatRead.read;

  VisitedClusterSet visited;
  uint32_t counter = 0;
  FatFileEntry& root = partition.tree->fatRoot;
  if (!fat32) {
    MarkFatSpecialFolders(partition, 0, false);
    std::vector<uint8_t> data(static_cast<size_t>(layout.rootEntries) * kFatEntrySize, 0);
    if (ReadFatSectors(source, partition.startSector + layout.rootStart, data) < data.size()) root.unreadable = true;
    return ParseFat16Directory(source, data, root, partition, visited, progress, counter) ? FatVolumeOutcome::kListed
                                                                                          : FatVolumeOutcome::kStopped;
  }
  MarkFatSpecialFolders(partition, layout.rootCluster, false);
  // The root chain is read whole (a long name may straddle two clusters) and
  // guarded like every other chain: a loop ends it.
  std::vector<uint8_t> data, cluster;
  uint32_t c = layout.rootCluster;
  while (visited.insert(c).second) {
    if (ReadFatCluster(source, partition, c, cluster) < cluster.size()) root.unreadable = true;
    if (!data.empty() && data.size() + cluster.size() > kMaxDirectoryBytes) {
      // A root longer than a folder should be is parsed in pieces; a long
      // name's unfinished run starts the next one.
      const size_t carried = UnfinishedLongNameBytes(data);
      if (!ParseFat32Directory(source, ByteView(data.data(), data.size() - carried), root, partition, visited, progress,
                               counter))
        return FatVolumeOutcome::kStopped;
      data.erase(data.begin(), data.end() - static_cast<std::ptrdiff_t>(carried));
    }
    data.insert(data.end(), cluster.begin(), cluster.end());
    const size_t at = static_cast<size_t>(c) * 4;
    if (!ByteView(partition.fat.table).Has(at, 4)) break;
    const uint32_t next = ByteView(partition.fat.table).Le32(at) & 0x0FFFFFFF;
    if (next >= 0x0FFFFFF7 || next < 2 || next >= entries) break;
    c = next;
  }
  if (!ParseFat32Directory(source, data, root, partition, visited, progress, counter))
    return FatVolumeOutcome::kStopped;
  return FatVolumeOutcome::kListed;
}

}  // namespace

FatVolumeOutcome ReadFatVolume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress, bool fat32,
                               RecordedSectors recorded) {
  std::unique_ptr<ByteSource> source = OpenPartitionSource(disk, partition);
  if (!source) return FatVolumeOutcome::kCannotOpen;
  return ReadFatVolume(*source, partition, disk, progress, fat32, recorded);
}

FatVolumeOutcome ReadFatVolume(const ByteSource& source, PartitionRecord& partition, DiskRecord& disk,
                               ScanProgress& progress, bool fat32, RecordedSectors recorded) {
  VolumeReader reader(source, partition);
  const uint64_t end = partition.startSector + partition.sectorCount;
  auto firstRecorded = disk.directorySectors.upper_bound(partition.startSector);
  const bool recordedInside = firstRecorded != disk.directorySectors.end() && *firstRecorded < end;
  bool ownFatFound = true;

  // Steps 1-3: geometry from an intact boot sector, else searched.
  Geometry g;
  const bool intact = GeometryFromBootSector(reader.Read(0, 1), fat32, g) && GeometryIsSane(g, partition, fat32);
  if (intact) {
    partition.bytesPerSector = kFatSectorSize;
    partition.sectorsPerCluster = g.sectorsPerCluster;
    partition.fat.sizeSectors = g.fatSize;
  } else if (partition.originCode == 1 && partition.fat.sizeSectors != 0) {
    // A partition the deep scan rebuilt from traces: its cached geometry is
    // all there is; reserved sectors, FATs and root are unknown.
    partition.bytesPerSector = kFatSectorSize;
    g = Geometry{};
    ownFatFound = false;
    if (partition.sectorsPerCluster == 0) return FatVolumeOutcome::kNoGeometry;
  } else {
    partition.bytesPerSector = kFatSectorSize;
    g = Geometry{};
    if (SearchGeometry(reader, partition, fat32, g) && GeometryIsSane(g, partition, fat32)) {
      partition.sectorsPerCluster = g.sectorsPerCluster;
      partition.fat.sizeSectors = g.fatSize;
    } else if (recordedInside && partition.sectorsPerCluster != 0 && partition.dataOrigin != 0) {
      // No FAT of its own any more, but an earlier run placed the clusters:
      // the recorded directory sectors are all that can still be read.
      g = Geometry{};
      ownFatFound = false;
    } else {
      return FatVolumeOutcome::kNoGeometry;
    }
  }

  // Step 4: where cluster 0 would start.
  const uint64_t spc = partition.sectorsPerCluster;
  if (partition.dataOrigin == 0) {
    if (fat32)
      partition.dataOrigin = partition.startSector + g.layout.reserved +
                             static_cast<uint64_t>(g.layout.numberOfFats) * partition.fat.sizeSectors - 2 * spc;
    else
      partition.dataOrigin = partition.startSector + g.layout.rootStart + kFat16RootSectors - 2 * spc;
  }

  // Step 5: the folders are rebuilt from the directory sectors a sweep
  // recorded inside the partition when the caller asks for the recovered view
  // (a formatted volume's old folders), or when the volume has no FAT left to
  // read. A healthy volume read as it stands keeps its own tree.
  if (recordedInside && (recorded == RecordedSectors::kRebuild || !ownFatFound)) {
    partition.bytesPerSector = kFatSectorSize;
    MarkFatSpecialFolders(partition, fat32 ? g.layout.rootCluster : 1, true);
    bool goOn = fat32 ? RebuildFat32FromSectors(source, partition, disk, progress, *firstRecorded)
                      : RebuildFat16FromSectors(source, partition, disk, progress, *firstRecorded);
    return goOn ? FatVolumeOutcome::kRebuilt : FatVolumeOutcome::kStopped;
  }

  // Step 6: a partition rebuilt from traces has no trustworthy FAT.
  if (partition.originCode == 1)
    return ReadRecordedTraces(source, partition, disk, progress, fat32, fat32 ? g.layout.rootCluster : 0);

  // Step 7: the normal read.
  if (!intact && !GeometryIsSane(g, partition, fat32)) return FatVolumeOutcome::kNoGeometry;
  return NormalRead(source, partition, progress, fat32, g.layout);
}

void ReadFat32Volume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress) {
  ReadFatVolume(partition, disk, progress, true);
}

void ReadFat16Volume(PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress) {
  ReadFatVolume(partition, disk, progress, false);
}

}  // namespace quorvel

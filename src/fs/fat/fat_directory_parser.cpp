// The FAT directory walk shared by the FAT readers and the rebuild from
// recorded directory sectors.
#include "fs/fat/fat_directory_parser.h"

#include <cstring>

#include "core/byte_order.h"
#include "fs/fat/fat_names.h"
#include "platform/text.h"

namespace quorvel {

uint32_t FatEntryCount(const PartitionRecord& partition, bool fat32) {
  const uint64_t bytes = static_cast<uint64_t>(partition.fat.sizeSectors) * kSectorSize;
  const uint64_t count = bytes / (fat32 ? 4 : 2);
  return count > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(count);
}

bool ReadFatSectors(const PartitionRecord& partition, SectorDevice* device, uint64_t absoluteSector, uint8_t* buffer,
                    size_t length) {
  std::memset(buffer, 0, length);
  size_t got = 0;
  if (partition.volumeKind == kPlainVolume) {
    if (!device || !device->IsOpen()) return false;
    return device->ReadAt(absoluteSector * kSectorSize, buffer, length, &got);
  }
  // Composite volumes start at 0: the sector is already volume-relative.
  return ReadPartitionData(&partition, got, device, buffer, length,
                           (absoluteSector - partition.startSector) * kSectorSize);
}

bool ReadFatCluster(const PartitionRecord& partition, SectorDevice* device, uint32_t cluster,
                    std::vector<uint8_t>& buffer) {
  buffer.assign(static_cast<size_t>(partition.sectorsPerCluster) * kSectorSize, 0);
  if (buffer.empty()) return false;
  const uint64_t sector = partition.dataOrigin + static_cast<uint64_t>(cluster) * partition.sectorsPerCluster;
  return ReadFatSectors(partition, device, sector, buffer.data(), buffer.size());
}

FatFileEntry* PlaceFatEntry(FileTree& tree, FatFileEntry& parent, const FatFileEntry& entry) {
  const uint8_t state = entry.state();
  FatFileEntry* placed = AddFatChild(parent, entry, IsFolderState(state));
  if (IsDeletedState(state))
    tree.DeletedEntryByCluster.emplace(placed->firstCluster, placed);
  else
    tree.NormalEntryByCluster.emplace(placed->firstCluster, placed);
  tree.nameIndex.emplace(placed->name, FileEntryRef(placed));
  return placed;
}

bool CountFoundFolder(ScanProgress& progress, uint32_t& counter) {
  ++counter;
  progress.SetText(FormatText("%d 项被找到", static_cast<int>(counter)));
  progress.Step();
  return !progress.StopRequested();
}

namespace {

// How the walk of one piece of directory data ended.
enum class WalkResult {
  kGoOn,     // next entry
  kEndData,  // recorded data turned out not to be directory data: stop this data only
  kStopped,  // the user asked to stop: unwind everything
};

bool StartsSubfolder(const std::vector<uint8_t>& data) {
  return data.size() >= 64 && data[0] == '.' && data[32] == '.' && data[33] == '.';
}

// The "." entry names the cluster it lives in.
bool SelfReferenceMatches(const std::vector<uint8_t>& data, uint32_t cluster) {
  return FatEntryFirstCluster(data.data()) == cluster;
}

struct Walk {
  const FatParseOptions& options;
  SectorDevice* device;
  PartitionRecord& partition;
  FileTree& tree;
  VisitedClusterSet& visited;
  ScanProgress& progress;
  uint32_t& counter;
  uint32_t maxCluster;  // number of FAT entries

  bool fat32() const { return options.fat32; }
  bool recorded() const { return options.recordedDisk != nullptr; }
};

WalkResult WalkData(Walk& walk, const uint8_t* data, size_t length, FatFileEntry& parent, int depth);

uint32_t NextCluster(const Walk& walk, uint32_t cluster) {
  const std::vector<uint8_t>& fat = walk.partition.fat.table;
  if (walk.fat32()) {
    const uint64_t at = static_cast<uint64_t>(cluster) * 4;
    if (at + 4 > fat.size()) return 0;
    return LoadLe32(&fat[at]) & 0x0FFFFFFF;  // the top four bits are reserved
  }
  const uint64_t at = static_cast<uint64_t>(cluster) * 2;
  if (at + 2 > fat.size()) return 0;
  return LoadLe16(&fat[at]);
}

// End-of-chain and bad-cluster marks (every value from 0x?FF7 up, not only
// the one this system writes).
bool EndsChain(const Walk& walk, uint32_t next) { return walk.fat32() ? next >= 0x0FFFFFF7 : next >= 0xFFF7; }

void FillFromEntry(FatFileEntry& entry, const uint8_t* e) {
  entry.creationTime = LoadLe16(e + 14);
  entry.creationDate = LoadLe16(e + 16);
  entry.writeTime = LoadLe16(e + 22);
  entry.writeDate = LoadLe16(e + 24);
  entry.size = LoadLe32(e + 28);
  entry.firstCluster = FatEntryFirstCluster(e);
}

// An in-use folder read through the FAT: every cluster of its chain, parsed
// as one piece so a long name whose entries straddle two clusters stays whole.
WalkResult WalkFolderChain(Walk& walk, FatFileEntry& folder, const FatFileEntry& parent, int depth) {
  std::vector<uint8_t> data, cluster;
  uint32_t c = folder.firstCluster;
  bool first = true;
  bool stopped = false;
  while (c > 1 && c != parent.firstCluster && c < walk.maxCluster) {
    // A chain that comes back to a cluster read before (a loop, a cross-link,
    // or a folder leading back to an ancestor) ends here.
    if (!walk.visited.insert(c).second) break;
    ReadFatCluster(walk.partition, walk.device, c, cluster);
    if (walk.fat32() && first && !StartsSubfolder(cluster)) break;
    if (!CountFoundFolder(walk.progress, walk.counter)) {
      stopped = true;
      break;
    }
    if (!data.empty() && data.size() + cluster.size() > kMaxDirectoryBytes) {
      // No real folder is this long; a chain that is keeps memory bounded.
      if (WalkData(walk, data.data(), data.size(), folder, depth + 1) == WalkResult::kStopped)
        return WalkResult::kStopped;
      data.clear();
    }
    data.insert(data.end(), cluster.begin(), cluster.end());
    const uint32_t next = NextCluster(walk, c);
    if (EndsChain(walk, next) || next < 2 || next > walk.maxCluster) break;
    c = next;
    first = false;
  }
  // What was read is listed even after a stop request.
  if (!data.empty() && WalkData(walk, data.data(), data.size(), folder, depth + 1) == WalkResult::kStopped)
    return WalkResult::kStopped;
  return stopped ? WalkResult::kStopped : WalkResult::kGoOn;
}

// An in-use folder of recorded data: only its first cluster, checked by its
// "." entry; the FAT of a formatted volume says nothing about it.
WalkResult RecordedFolder(Walk& walk, FatFileEntry& entry, bool longName, FatFileEntry& parent, int depth) {
  const uint32_t c = entry.firstCluster;
  std::vector<uint8_t> cluster;
  if (longName) {
    if (c == parent.firstCluster || walk.visited.count(c)) return WalkResult::kGoOn;
    if (c > walk.maxCluster) return WalkResult::kEndData;
    if (c < 2) return WalkResult::kGoOn;
    ReadFatCluster(walk.partition, walk.device, c, cluster);
    if (!StartsSubfolder(cluster)) return WalkResult::kGoOn;
    walk.visited.insert(c);
    FatFileEntry* folder = PlaceFatEntry(walk.tree, parent, entry);
    if (!CountFoundFolder(walk.progress, walk.counter)) return WalkResult::kStopped;
    if (SelfReferenceMatches(cluster, c) && depth + 1 < kMaxFolderDepth &&
        WalkData(walk, cluster.data(), cluster.size(), *folder, depth + 1) == WalkResult::kStopped)
      return WalkResult::kStopped;
    return WalkResult::kGoOn;
  }
  FatFileEntry* folder = PlaceFatEntry(walk.tree, parent, entry);
  if (c > walk.maxCluster) return WalkResult::kEndData;
  if (c < 2 || walk.visited.count(c)) return WalkResult::kGoOn;
  ReadFatCluster(walk.partition, walk.device, c, cluster);
  if (!StartsSubfolder(cluster)) return WalkResult::kGoOn;
  walk.visited.insert(c);
  if (!CountFoundFolder(walk.progress, walk.counter)) return WalkResult::kStopped;
  if (SelfReferenceMatches(cluster, c) && depth + 1 < kMaxFolderDepth &&
      WalkData(walk, cluster.data(), cluster.size(), *folder, depth + 1) == WalkResult::kStopped)
    return WalkResult::kStopped;
  return WalkResult::kGoOn;
}

// A deleted folder: its high cluster word may have been cleared, so the
// clusters h x 65536 + low word are probed for a "." entry that fits.
WalkResult DeletedFolder(Walk& walk, FatFileEntry& entry, const uint8_t* e, bool longName, FatFileEntry& parent,
                         int depth) {
  const uint32_t lo = LoadLe16(e + 26);
  const uint32_t hi = LoadLe16(e + 20);
  const bool single = walk.fat32() && hi != 0;
  const uint32_t lastH = single ? hi : walk.maxCluster / 65536;
  std::vector<uint8_t> cluster;
  bool accepted = false;
  uint32_t found = 0;
  for (uint32_t h = single ? hi : 0; h <= lastH && !accepted; ++h) {
    const uint32_t candidate = (h << 16) | lo;
    if (candidate < 2 || candidate >= walk.maxCluster || walk.visited.count(candidate)) continue;
    ReadFatCluster(walk.partition, walk.device, candidate, cluster);
    if (!StartsSubfolder(cluster) || LoadLe16(&cluster[26]) != lo) continue;
    const uint32_t dotDot = FatEntryFirstCluster(&cluster[32]);
    const bool parentFits = dotDot == 0 || dotDot == parent.firstCluster;
    if (walk.fat32())
      accepted = hi != 0 || parent.firstCluster == 2 || parentFits;
    else
      accepted = parent.firstCluster == 0 || parentFits;
    if (accepted) found = candidate;
  }
  if (!accepted) return WalkResult::kGoOn;
  entry.firstCluster = found;
  if (longName) {
    // The deleted run's short entry may not be the folder's own; the ".."
    // entry inside the folder was written when the folder was made.
    const uint8_t* dd = &cluster[32];
    entry.creationTime = LoadLe16(dd + 14);
    entry.creationDate = LoadLe16(dd + 16);
    entry.writeTime = LoadLe16(dd + 22);
    entry.writeDate = LoadLe16(dd + 24);
    entry.size = LoadLe32(dd + 28);
  }
  walk.visited.insert(found);
  FatFileEntry* folder = PlaceFatEntry(walk.tree, parent, entry);
  if (!CountFoundFolder(walk.progress, walk.counter)) return WalkResult::kStopped;
  if (depth + 1 < kMaxFolderDepth &&
      WalkData(walk, cluster.data(), cluster.size(), *folder, depth + 1) == WalkResult::kStopped)
    return WalkResult::kStopped;
  return WalkResult::kGoOn;
}

// One short entry, with the long name assembled in front of it (if any).
WalkResult TakeEntry(Walk& walk, const uint8_t* e, const std::string& longUnits, bool longName, FatFileEntry& parent,
                     int depth) {
  const bool deleted = e[0] == kFatDeletedMark;
  const uint8_t attribute = e[11];
  const FatEntryClass kind = ClassifyFatAttribute(attribute);
  if (kind != FatEntryClass::kFile && kind != FatEntryClass::kFolder) {
    if (!walk.recorded() || longName) return WalkResult::kGoOn;
    if (!deleted && (attribute == 0x3F || attribute == 0x40)) return WalkResult::kGoOn;
    // Recorded sectors are only guesses: an entry no directory holds means
    // the rest of the data is something else.
    return WalkResult::kEndData;
  }
  if (!deleted && IsDotFatEntry(e)) return WalkResult::kGoOn;

  const bool folder = kind == FatEntryClass::kFolder;
  FatFileEntry entry;
  FillFromEntry(entry, e);
  if (longName)
    entry.name = Utf16LeToUtf8(reinterpret_cast<const uint8_t*>(longUnits.data()), longUnits.size() / 2, false);
  if (entry.name.empty()) entry.name = FatShortName(e, folder);

  if (!folder) {
    if (deleted) {
      SetEntryState(entry.flags, kDeletedFile);
      if (walk.recorded()) {
        // The carved copy of this file's data would list it twice.
        const uint64_t start =
            walk.partition.dataOrigin + static_cast<uint64_t>(entry.firstCluster) * walk.partition.sectorsPerCluster;
        walk.options.recordedDisk->carvedFiles.erase(start);
      }
    } else {
      // A short entry with no cluster but a size is not a file; an empty file
      // (no cluster, size 0) is.
      if (!longName && entry.firstCluster == 0 && entry.size != 0) return WalkResult::kGoOn;
      SetEntryState(entry.flags, kFile);
    }
    PlaceFatEntry(walk.tree, parent, entry);
    return WalkResult::kGoOn;
  }

  if (deleted) {
    SetEntryState(entry.flags, kDeletedFolder);
    return DeletedFolder(walk, entry, e, longName, parent, depth);
  }
  SetEntryState(entry.flags, kFolder);
  if (walk.recorded()) return RecordedFolder(walk, entry, longName, parent, depth);
  FatFileEntry* placed = PlaceFatEntry(walk.tree, parent, entry);
  if (depth + 1 >= kMaxFolderDepth) return WalkResult::kGoOn;
  return WalkFolderChain(walk, *placed, parent, depth);
}

constexpr unsigned kMaxLongNameEntries = 20;  // 255 characters

WalkResult WalkData(Walk& walk, const uint8_t* data, size_t length, FatFileEntry& parent, int depth) {
  size_t offset = 0;
  if (length >= 64 && data[0] == '.') offset = 64;  // the "." and ".." entries of a subfolder
  std::string units;
  for (; offset + kFatEntrySize <= length; offset += kFatEntrySize) {
    const uint8_t* e = data + offset;
    if (IsBlankFatEntry(e)) continue;
    if (e[11] != kFatLongNameAttribute) {
      WalkResult r = TakeEntry(walk, e, std::string(), false, parent, depth);
      if (r != WalkResult::kGoOn) return r;
      continue;
    }
    units.clear();
    size_t shortAt;
    if (e[0] != kFatDeletedMark) {
      const uint8_t sequence = e[0];
      const unsigned count = sequence >= 0x40 ? sequence - 0x40u : 0u;
      // A run must start with its last piece; one that is too long or whose
      // short entry would lie past the data is not a run: this entry is
      // skipped and the short entry is still taken on its own.
      if (!(sequence & 0x40) || count == 0 || count > kMaxLongNameEntries) continue;
      shortAt = offset + count * kFatEntrySize;
      if (shortAt + kFatEntrySize > length) continue;
      const uint8_t* s = data + shortAt;
      if (s[0] == kFatDeletedMark || s[11] == kFatLongNameAttribute || IsBlankFatEntry(s)) continue;
      // Pieces left behind by a program that renamed the short entry only.
      if (e[13] != FatShortNameChecksum(s)) continue;
      for (size_t k = shortAt; k > offset; k -= kFatEntrySize) AppendLongNameUnits(data + k - kFatEntrySize, units);
    } else {
      size_t k = offset;
      while (k + kFatEntrySize <= length && data[k] == kFatDeletedMark && data[k + 11] == kFatLongNameAttribute)
        k += kFatEntrySize;
      if (k + kFatEntrySize > length) break;  // the run reaches the end of the data: no short entry
      if (data[k] != kFatDeletedMark) {
        // Deleted pieces whose short entry was reused: look at that entry alone.
        offset = k - kFatEntrySize;
        continue;
      }
      shortAt = k;
      for (size_t j = shortAt; j > offset; j -= kFatEntrySize) AppendLongNameUnits(data + j - kFatEntrySize, units);
    }
    offset = shortAt;
    WalkResult r = TakeEntry(walk, data + shortAt, units, true, parent, depth);
    if (r != WalkResult::kGoOn) return r;
  }
  return WalkResult::kGoOn;
}

}  // namespace

bool ParseFatDirectory(const FatParseOptions& options, SectorDevice* device, const uint8_t* data, size_t length,
                       FatFileEntry& parent, PartitionRecord& partition, VisitedClusterSet& visited,
                       ScanProgress& progress, uint32_t& counter, int depth) {
  Walk walk{options, device,   partition, *partition.tree,
            visited, progress, counter,   FatEntryCount(partition, options.fat32)};
  return WalkData(walk, data, length, parent, depth) != WalkResult::kStopped;
}

bool ParseFat32Directory(SectorDevice* device, const uint8_t* data, size_t length, FatFileEntry& parent,
                         PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                         uint32_t& counter) {
  FatParseOptions options;
  options.fat32 = true;
  return ParseFatDirectory(options, device, data, length, parent, partition, visited, progress, counter, 0);
}

bool ParseFat16Directory(SectorDevice* device, const uint8_t* data, size_t length, FatFileEntry& parent,
                         PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                         uint32_t& counter) {
  FatParseOptions options;
  options.fat32 = false;
  return ParseFatDirectory(options, device, data, length, parent, partition, visited, progress, counter, 0);
}

}  // namespace quorvel

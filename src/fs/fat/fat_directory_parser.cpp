// The FAT directory walk shared by the FAT readers and the rebuild from
// recorded directory sectors.
#include "fs/fat/fat_directory_parser.h"

#include <algorithm>
#include <utility>

#include "fs/fat/fat_dir_entry_layout.h"
#include "fs/fat/fat_names.h"
#include "io/careful_read.h"
#include "platform/text.h"

namespace quorvel {

uint32_t FatEntryCount(const PartitionRecord& partition, bool fat32) {
  const uint64_t bytes = static_cast<uint64_t>(partition.fat.sizeSectors) * kFatSectorSize;
  const uint64_t count = bytes / (fat32 ? 4 : 2);
  return count > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(count);
}

size_t ReadFatSectors(const ByteSource& source, uint64_t absoluteSector, std::span<uint8_t> buffer) {
  if (absoluteSector > UINT64_MAX / kFatSectorSize) return ZeroRest(buffer, 0);
  // Directory data after a failing sector still counts.
  return static_cast<size_t>(
      ReadCarefully(source, absoluteSector * kFatSectorSize, buffer, buffer.size(), UINT64_MAX, kFatSectorSize).read);
}

size_t ReadFatCluster(const ByteSource& source, const PartitionRecord& partition, uint32_t cluster,
                      std::vector<uint8_t>& buffer) {
  buffer.assign(static_cast<size_t>(partition.sectorsPerCluster) * kFatSectorSize, 0);
  if (buffer.empty()) return 0;
  const uint64_t sector = partition.dataOrigin + static_cast<uint64_t>(cluster) * partition.sectorsPerCluster;
  return ReadFatSectors(source, sector, buffer);
}

FatFileEntry* PlaceFatEntry(FileTree& tree, FatFileEntry& parent, FatFileEntry entry) {
  const uint8_t state = entry.state();
  FatFileEntry* placed = AddFatChild(parent, std::move(entry), IsFolderState(state));
  if (IsDeletedState(state))
    tree.DeletedEntryByCluster.emplace(placed->firstCluster, placed);
  else
    tree.NormalEntryByCluster.emplace(placed->firstCluster, placed);
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

// A "." entry, then a ".." entry.
bool StartsSubfolder(ByteView data) {
  return data.Has(0, 2 * kFatEntrySize) && data.U8(0) == '.' && data.U8(kFatEntrySize) == '.' &&
         data.U8(kFatEntrySize + 1) == '.';
}

// The "." entry names the cluster it lives in.
bool SelfReferenceMatches(ByteView data, uint32_t cluster) { return FatEntryFirstCluster(data) == cluster; }

struct Walk {
  const FatParseOptions& options;
  const ByteSource& source;
  PartitionRecord& partition;
  FileTree& tree;
  VisitedClusterSet& visited;
  ScanProgress& progress;
  uint32_t& counter;
  uint32_t maxCluster;  // number of FAT entries

  bool fat32() const { return options.fat32; }
  bool recorded() const { return options.recordedDisk != nullptr; }
};

WalkResult WalkData(Walk& walk, ByteView data, FatFileEntry& parent, int depth);

uint32_t NextCluster(const Walk& walk, uint32_t cluster) {
  const ByteView fat(walk.partition.fat.table);
  if (walk.fat32()) return fat.Le32(static_cast<size_t>(cluster) * 4) & 0x0FFFFFFF;  // the top four bits are reserved
  return fat.Le16(static_cast<size_t>(cluster) * 2);
}

// End-of-chain and bad-cluster marks (every value from 0x?FF7 up, not only
// the one this system writes).
bool EndsChain(const Walk& walk, uint32_t next) { return walk.fat32() ? next >= 0x0FFFFFF7 : next >= 0xFFF7; }

// Times, size and (unless clusterToo is false) the first cluster of a short entry.
void FillFromEntry(FatFileEntry& entry, ByteView e, bool clusterToo = true) {
  entry.creationTime = e.Le16(FatDirEntry::kCreationTime);
  entry.creationDate = e.Le16(FatDirEntry::kCreationDate);
  entry.writeTime = e.Le16(FatDirEntry::kWriteTime);
  entry.writeDate = e.Le16(FatDirEntry::kWriteDate);
  entry.accessDate = e.Le16(FatDirEntry::kAccessDate);
  entry.size = e.Le32(FatDirEntry::kFileSize);
  if (clusterToo) entry.firstCluster = FatEntryFirstCluster(e);
}

// Clusters the chain holds in a row from c on (c itself counted), each one
// the walk would still take, up to max: read together in one request.
uint32_t ContiguousClusters(const Walk& walk, uint32_t c, uint32_t parentFirst, uint32_t max) {
  uint32_t count = 1;
  for (uint32_t at = c; count < max; ++at, ++count) {
    const uint32_t next = NextCluster(walk, at);
    if (next != at + 1 || EndsChain(walk, next) || next >= walk.maxCluster || next == parentFirst ||
        walk.visited.count(next))
      break;
  }
  return count;
}

// An in-use folder read through the FAT: every cluster of its chain, parsed
// as one piece so a long name whose entries straddle two clusters stays whole.
// Clusters that follow each other on the disk are read in one request (small
// clusters read one by one cost more in calls than in copying).
WalkResult WalkFolderChain(Walk& walk, FatFileEntry& folder, const FatFileEntry& parent, int depth) {
  constexpr size_t kRunBytes = size_t{256} << 10;
  const size_t clusterBytes = static_cast<size_t>(walk.partition.sectorsPerCluster) * kFatSectorSize;
  if (clusterBytes == 0) return WalkResult::kGoOn;
  const auto maxRun = static_cast<uint32_t>(std::max<size_t>(1, kRunBytes / clusterBytes));
  std::vector<uint8_t> data, run;
  uint32_t c = folder.firstCluster;
  bool first = true;
  bool stopped = false;
  while (c > 1 && c != parent.firstCluster && c < walk.maxCluster && !stopped) {
    // A chain that comes back to a cluster read before (a loop, a cross-link,
    // or a folder leading back to an ancestor) ends here.
    if (walk.visited.count(c)) break;
    const uint32_t count = ContiguousClusters(walk, c, parent.firstCluster, maxRun);
    run.assign(count * clusterBytes, 0);
    const size_t read =
        ReadFatSectors(walk.source, walk.partition.dataOrigin + uint64_t{c} * walk.partition.sectorsPerCluster, run);
    bool chainGoesOn = true;
    for (uint32_t i = 0; i < count; ++i, ++c) {
      // A subfolder parsed from an earlier piece of this folder may have
      // taken this cluster meanwhile (a cross-link): the chain ends here.
      if (!walk.visited.insert(c).second) {
        chainGoesOn = false;
        break;
      }
      const ByteView cluster(run.data() + i * clusterBytes, clusterBytes);
      if (read < (i + 1) * clusterBytes) folder.unreadable = true;
      if (walk.fat32() && first && !StartsSubfolder(cluster)) {
        chainGoesOn = false;
        break;
      }
      first = false;
      if (!CountFoundFolder(walk.progress, walk.counter)) {
        stopped = true;
        break;
      }
      if (!data.empty() && data.size() + clusterBytes > kMaxDirectoryBytes) {
        // Longer than a folder should be: parse what is here, keeping a long
        // name's unfinished run for the next piece.
        const size_t carried = UnfinishedLongNameBytes(data);
        if (WalkData(walk, ByteView(data.data(), data.size() - carried), folder, depth + 1) == WalkResult::kStopped)
          return WalkResult::kStopped;
        data.erase(data.begin(), data.end() - static_cast<std::ptrdiff_t>(carried));
      }
      data.insert(data.end(), cluster.data(), cluster.data() + clusterBytes);
    }
    if (!chainGoesOn || stopped) break;
    const uint32_t next = NextCluster(walk, c - 1);
    if (EndsChain(walk, next) || next < 2 || next > walk.maxCluster) break;
    c = next;
  }
  // What was read is listed even after a stop request.
  if (!data.empty() && WalkData(walk, data, folder, depth + 1) == WalkResult::kStopped) return WalkResult::kStopped;
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
    ReadFatCluster(walk.source, walk.partition, c, cluster);
    if (!StartsSubfolder(cluster)) return WalkResult::kGoOn;
    walk.visited.insert(c);
    FatFileEntry* folder = PlaceFatEntry(walk.tree, parent, std::move(entry));
    if (!CountFoundFolder(walk.progress, walk.counter)) return WalkResult::kStopped;
    if (SelfReferenceMatches(cluster, c) && depth + 1 < kMaxFolderDepth &&
        WalkData(walk, cluster, *folder, depth + 1) == WalkResult::kStopped)
      return WalkResult::kStopped;
    return WalkResult::kGoOn;
  }
  FatFileEntry* folder = PlaceFatEntry(walk.tree, parent, std::move(entry));
  if (c > walk.maxCluster) return WalkResult::kEndData;
  if (c < 2 || walk.visited.count(c)) return WalkResult::kGoOn;
  if (ReadFatCluster(walk.source, walk.partition, c, cluster) < cluster.size()) folder->unreadable = true;
  if (!StartsSubfolder(cluster)) return WalkResult::kGoOn;
  walk.visited.insert(c);
  if (!CountFoundFolder(walk.progress, walk.counter)) return WalkResult::kStopped;
  if (SelfReferenceMatches(cluster, c) && depth + 1 < kMaxFolderDepth &&
      WalkData(walk, cluster, *folder, depth + 1) == WalkResult::kStopped)
    return WalkResult::kStopped;
  return WalkResult::kGoOn;
}

// A deleted folder: its high cluster word may have been cleared, so the
// clusters h x 65536 + low word are probed for a "." entry that fits.
WalkResult DeletedFolder(Walk& walk, FatFileEntry& entry, ByteView e, bool longName, FatFileEntry& parent, int depth) {
  const uint32_t lo = e.Le16(FatDirEntry::kFirstClusterLow);
  const uint32_t hi = e.Le16(FatDirEntry::kFirstClusterHigh);
  const bool single = walk.fat32() && hi != 0;
  const uint32_t lastH = single ? hi : walk.maxCluster / 65536;
  std::vector<uint8_t> cluster;
  bool accepted = false;
  uint32_t found = 0;
  for (uint32_t h = single ? hi : 0; h <= lastH && !accepted; ++h) {
    const uint32_t candidate = (h << 16) | lo;
    if (candidate < 2 || candidate >= walk.maxCluster || walk.visited.count(candidate)) continue;
    ReadFatCluster(walk.source, walk.partition, candidate, cluster);
    const ByteView data(cluster);
    if (!StartsSubfolder(data) || data.Le16(FatDirEntry::kFirstClusterLow) != lo) continue;
    const uint32_t dotDot = FatEntryFirstCluster(data.Sub(kFatEntrySize, kFatEntrySize));
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
    FillFromEntry(entry, ByteView(cluster).Sub(kFatEntrySize, kFatEntrySize), false);
  }
  walk.visited.insert(found);
  FatFileEntry* folder = PlaceFatEntry(walk.tree, parent, std::move(entry));
  if (!CountFoundFolder(walk.progress, walk.counter)) return WalkResult::kStopped;
  if (depth + 1 < kMaxFolderDepth && WalkData(walk, cluster, *folder, depth + 1) == WalkResult::kStopped)
    return WalkResult::kStopped;
  return WalkResult::kGoOn;
}

// One short entry, with the long name assembled in front of it (if any).
WalkResult TakeEntry(Walk& walk, ByteView e, const std::string& longUnits, bool longName, FatFileEntry& parent,
                     int depth) {
  const bool deleted = e.U8(FatDirEntry::kName) == kFatDeletedMark;
  const uint8_t attribute = e.U8(FatDirEntry::kAttribute);
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
    entry.name = Utf16LeToUtf8(ByteView(reinterpret_cast<const uint8_t*>(longUnits.data()), longUnits.size()), false);
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
    PlaceFatEntry(walk.tree, parent, std::move(entry));
    return WalkResult::kGoOn;
  }

  if (deleted) {
    SetEntryState(entry.flags, kDeletedFolder);
    return DeletedFolder(walk, entry, e, longName, parent, depth);
  }
  SetEntryState(entry.flags, kFolder);
  if (walk.recorded()) return RecordedFolder(walk, entry, longName, parent, depth);
  FatFileEntry* placed = PlaceFatEntry(walk.tree, parent, std::move(entry));
  if (depth + 1 >= kMaxFolderDepth) return WalkResult::kGoOn;
  return WalkFolderChain(walk, *placed, parent, depth);
}

constexpr unsigned kMaxLongNameEntries = 20;  // 255 characters

}  // namespace

size_t UnfinishedLongNameBytes(ByteView data) {
  const size_t whole = data.size() / kFatEntrySize * kFatEntrySize;
  size_t bytes = 0;
  while (bytes < whole && bytes < kMaxLongNameEntries * kFatEntrySize &&
         data.U8(whole - bytes - kFatEntrySize + FatDirEntry::kAttribute) == kFatLongNameAttribute)
    bytes += kFatEntrySize;
  return bytes;
}

namespace {

WalkResult WalkData(Walk& walk, ByteView data, FatFileEntry& parent, int depth) {
  using namespace FatDirEntry;
  auto entryAt = [&](size_t offset) { return data.Sub(offset, kFatEntrySize); };
  size_t offset = 0;
  if (data.size() >= 2 * kFatEntrySize && data.U8(0) == '.') offset = 2 * kFatEntrySize;  // "." and ".." of a subfolder
  std::string units;
  for (; data.Has(offset, kFatEntrySize); offset += kFatEntrySize) {
    const ByteView e = entryAt(offset);
    if (IsBlankFatEntry(e)) continue;
    if (e.U8(kAttribute) != kFatLongNameAttribute) {
      WalkResult r = TakeEntry(walk, e, std::string(), false, parent, depth);
      if (r != WalkResult::kGoOn) return r;
      continue;
    }
    units.clear();
    size_t shortAt;
    if (e.U8(kName) != kFatDeletedMark) {
      const uint8_t sequence = e.U8(FatLongNameEntry::kOrder);
      const unsigned count = sequence >= FatLongNameEntry::kLastPiece ? sequence - FatLongNameEntry::kLastPiece : 0u;
      // A run must start with its last piece; one that is too long or whose
      // short entry would lie past the data is not a run: this entry is
      // skipped and the short entry is still taken on its own.
      if (!(sequence & FatLongNameEntry::kLastPiece) || count == 0 || count > kMaxLongNameEntries) continue;
      shortAt = offset + count * kFatEntrySize;
      if (!data.Has(shortAt, kFatEntrySize)) continue;
      const ByteView s = entryAt(shortAt);
      if (s.U8(kName) == kFatDeletedMark || s.U8(kAttribute) == kFatLongNameAttribute || IsBlankFatEntry(s)) continue;
      // Pieces left behind by a program that renamed the short entry only.
      if (e.U8(FatLongNameEntry::kChecksum) != FatShortNameChecksum(s)) continue;
      for (size_t k = shortAt; k > offset; k -= kFatEntrySize) AppendLongNameUnits(entryAt(k - kFatEntrySize), units);
    } else {
      size_t k = offset;
      while (data.Has(k, kFatEntrySize) && data.U8(k + kName) == kFatDeletedMark &&
             data.U8(k + kAttribute) == kFatLongNameAttribute)
        k += kFatEntrySize;
      if (!data.Has(k, kFatEntrySize)) break;  // the run reaches the end of the data: no short entry
      if (data.U8(k + kName) != kFatDeletedMark) {
        // Deleted pieces whose short entry was reused: look at that entry alone.
        offset = k - kFatEntrySize;
        continue;
      }
      shortAt = k;
      for (size_t j = shortAt; j > offset; j -= kFatEntrySize) AppendLongNameUnits(entryAt(j - kFatEntrySize), units);
    }
    offset = shortAt;
    WalkResult r = TakeEntry(walk, entryAt(shortAt), units, true, parent, depth);
    if (r != WalkResult::kGoOn) return r;
  }
  return WalkResult::kGoOn;
}

}  // namespace

bool ParseFatDirectory(const FatParseOptions& options, const ByteSource& source, ByteView data, FatFileEntry& parent,
                       PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                       uint32_t& counter, int depth) {
  Walk walk{options, source,   partition, *partition.tree,
            visited, progress, counter,   FatEntryCount(partition, options.fat32)};
  return WalkData(walk, data, parent, depth) != WalkResult::kStopped;
}

bool ParseFat32Directory(const ByteSource& source, ByteView data, FatFileEntry& parent, PartitionRecord& partition,
                         VisitedClusterSet& visited, ScanProgress& progress, uint32_t& counter) {
  FatParseOptions options;
  options.fat32 = true;
  return ParseFatDirectory(options, source, data, parent, partition, visited, progress, counter, 0);
}

bool ParseFat16Directory(const ByteSource& source, ByteView data, FatFileEntry& parent, PartitionRecord& partition,
                         VisitedClusterSet& visited, ScanProgress& progress, uint32_t& counter) {
  FatParseOptions options;
  options.fat32 = false;
  return ParseFatDirectory(options, source, data, parent, partition, visited, progress, counter, 0);
}

}  // namespace quorvel

// Rebuilding FAT folders from recorded directory sectors.
#include "fs/fat/fat_rebuild.h"

#include "fs/fat/fat_names.h"

namespace quorvel {

void MarkFatSpecialFolders(PartitionRecord& partition, uint32_t rootCluster, bool withLost) {
  FileTree& tree = *partition.tree;
  FatFileEntry& root = tree.fatRoot;
  root.name = "根目录";
  SetEntryState(root.flags, kFolder);
  root.size = 0;
  root.parent = nullptr;
  root.firstCluster = rootCluster;
  tree.NormalEntryByCluster.emplace(rootCluster, &root);
  if (withLost) {
    FatFileEntry& lost = tree.fatLost;
    lost.name = "零散目录";
    SetEntryState(lost.flags, kFolder);
    lost.size = 0;
    lost.parent = nullptr;
    lost.firstCluster = 0;
    tree.DeletedEntryByCluster.emplace(0, &lost);
  } else {
    // A lost folder an earlier rebuild marked would show as an empty row.
    SetEntryState(tree.fatLost.flags, kNoState);
  }
}

namespace {

bool ParseRecorded(bool fat32, DiskRecord& disk, const ByteSource& source, ByteView data, FatFileEntry& parent,
                   PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress, uint32_t& counter) {
  FatParseOptions options;
  options.fat32 = fat32;
  options.recordedDisk = &disk;
  return ParseFatDirectory(options, source, data, parent, partition, visited, progress, counter, 0);
}

// Sectors that start a cluster; sectors in front of the data area have no
// cluster number and are left out.
bool ClusterOfSector(const PartitionRecord& partition, uint64_t sector, uint32_t& cluster) {
  const uint64_t spc = partition.sectorsPerCluster;
  if (spc == 0 || sector < partition.dataOrigin) return false;
  const uint64_t distance = sector - partition.dataOrigin;
  if (distance % spc != 0) return false;
  cluster = static_cast<uint32_t>(distance / spc);
  return true;
}

bool Rebuild(bool fat32, const ByteSource& source, PartitionRecord& partition, DiskRecord& disk, ScanProgress& progress,
             uint64_t firstSector) {
  const uint64_t end = partition.startSector + partition.sectorCount;
  const DirectorySectorSet& sectors = disk.directorySectors;

  uint64_t total = 0;
  uint32_t cluster = 0;
  for (auto it = sectors.lower_bound(firstSector); it != sectors.end() && *it < end; ++it)
    if (ClusterOfSector(partition, *it, cluster)) ++total;
  progress.SetText(std::string());
  progress.Range(total, 1);

  FileTree& tree = *partition.tree;
  VisitedClusterSet visited;
  uint32_t counter = 0;
  std::vector<uint8_t> data;
  for (auto it = sectors.lower_bound(firstSector); it != sectors.end() && *it < end; ++it) {
    if (progress.StopRequested()) return false;
    if (!ClusterOfSector(partition, *it, cluster)) continue;
    if (!visited.insert(cluster).second) continue;
    progress.Step();
    data.assign(static_cast<size_t>(partition.sectorsPerCluster) * kFatSectorSize, 0);
    ReadFatSectors(source, *it, data);
    FatFileEntry folder;
    folder.name = FormatText("%u", cluster);
    SetEntryState(folder.flags, kFolder);
    folder.firstCluster = cluster;
    ++counter;
    progress.SetText(FormatText("%d 项被找到", static_cast<int>(counter)));

    FatFileEntry* into;
    if (cluster == tree.fatRoot.firstCluster) {
      into = &tree.fatRoot;
    } else if (!data.empty() && data[0] == '.') {
      folder.parent = &tree.fatRoot;
      into = AddFatChild(tree.fatRoot, std::move(folder), false);
      tree.NormalEntryByCluster.emplace(cluster, into);
    } else {
      into = AddFatChild(tree.fatLost, std::move(folder), false);
      tree.DeletedEntryByCluster.emplace(cluster, into);
    }
    if (!ParseRecorded(fat32, disk, source, data, *into, partition, visited, progress, counter)) return false;
  }
  return true;
}

}  // namespace

bool RebuildFat32FromSectors(const ByteSource& source, PartitionRecord& partition, DiskRecord& disk,
                             ScanProgress& progress, uint64_t firstSector) {
  return Rebuild(true, source, partition, disk, progress, firstSector);
}

bool RebuildFat16FromSectors(const ByteSource& source, PartitionRecord& partition, DiskRecord& disk,
                             ScanProgress& progress, uint64_t firstSector) {
  return Rebuild(false, source, partition, disk, progress, firstSector);
}

bool ParseFat32Recorded(DiskRecord& disk, const ByteSource& source, ByteView data, FatFileEntry& parent,
                        PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                        uint32_t& counter) {
  return ParseRecorded(true, disk, source, data, parent, partition, visited, progress, counter);
}

bool ParseFat16Recorded(DiskRecord& disk, const ByteSource& source, ByteView data, FatFileEntry& parent,
                        PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                        uint32_t& counter) {
  return ParseRecorded(false, disk, source, data, parent, partition, visited, progress, counter);
}

}  // namespace quorvel

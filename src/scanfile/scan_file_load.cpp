#include "scanfile/scan_file_load.h"

#include <map>
#include <utility>

namespace quorvel {

namespace {

const PartitionRecord* SamePartition(const std::list<PartitionRecord>& before, const PartitionRecord& loaded) {
  for (const PartitionRecord& p : before) {
    if (p.name == loaded.name && p.volumeKind == loaded.volumeKind && p.startSector == loaded.startSector &&
        p.sectorCount == loaded.sectorCount)
      return &p;
  }
  return nullptr;
}

// Brings a loaded partition to the devices of this session and back to the
// details the file does not carry.
void Reattach(PartitionRecord& loaded, const DiskRecord& disk, const std::list<PartitionRecord>& before) {
  // Everything on a physical disk or image lies on that disk, wherever it
  // was when the file was written; only a group's volumes span other disks.
  if (disk.diskKind == 0) {
    if (!loaded.devicePath.empty()) loaded.devicePath = disk.devicePath;
    for (auto& [ordinal, member] : loaded.members)
      if (!member.path.empty()) member.path = disk.devicePath;
  }
  const PartitionRecord* was = SamePartition(before, loaded);
  if (!was) return;
  loaded.volumeId = was->volumeId;
  loaded.volumeManager = was->volumeManager;
  loaded.unreadableReason = was->unreadableReason;
  if (loaded.fat.sizeSectors == 0) loaded.fat.sizeSectors = was->fat.sizeSectors;
  if (loaded.ntfs.mftStartSector == 0) loaded.ntfs.mftStartSector = was->ntfs.mftStartSector;
  for (auto& [ordinal, member] : loaded.members) {
    auto it = was->members.find(ordinal);
    if (it == was->members.end() || it->second.memberDiskId != member.memberDiskId) continue;
    // A group's member disk as this session found it.
    if (disk.diskKind != 0 && !it->second.path.empty()) member.path = it->second.path;
    member.dataAreaOffset = it->second.dataAreaOffset;
  }
}

void MergeFragments(MftFragmentList& into, const MftFragmentList& loaded, size_t& added) {
  std::map<uint64_t, uint32_t> byStart;
  for (const MftFragment& f : into) byStart.emplace(f.startSector, f.sectorCount);
  const size_t before = byStart.size();
  for (const MftFragment& f : loaded) byStart.emplace(f.startSector, f.sectorCount);
  added = byStart.size() - before;
  // Readers walk the list in ascending order of start.
  into.clear();
  for (const auto& [start, sectors] : byStart) into.push_back({start, sectors});
}

// Moves what `loaded` adds into `into` (entries already there stay) and
// returns how many it added. Into an empty collection (a disk just opened)
// the loaded one is taken whole: a million sectors merged node by node cost
// a search each.
template <typename Sorted>
size_t MergeInto(Sorted& into, Sorted& loaded) {
  if (into.empty()) {
    into.swap(loaded);
    return into.size();
  }
  const size_t before = into.size();
  into.merge(loaded);
  return into.size() - before;
}

void Apply(ScanFileContents& contents, DiskRecord& disk, ScanFileLoadResult& result) {
  DiskRecord& v = contents.values;
  if (contents.diskValuesRead) {
    disk.mapEntryCount = v.mapEntryCount;
    disk.diskKind = v.diskKind;
    disk.diskIdText = v.diskIdText;
    disk.groupIdText = v.groupIdText;
    disk.lvm.peStart = v.lvm.peStart;
    disk.lvm.devSize = v.lvm.devSize;
    disk.lvm.peCount = v.lvm.peCount;
    disk.lvm.extentSize = v.lvm.extentSize;
    disk.scanFileReserved64 = v.scanFileReserved64;
    disk.scanFileReserved32a = v.scanFileReserved32a;
    disk.scanFileReserved32b = v.scanFileReserved32b;
    std::list<PartitionRecord> before = std::move(disk.partitions);
    for (PartitionRecord& p : v.partitions) Reattach(p, disk, before);
    disk.partitions = std::move(v.partitions);
    disk.lvm.logicalVolumes = std::move(v.lvm.logicalVolumes);
    result.partitionsReplaced = true;
  }
  result.partitions = disk.partitions.size();
  result.logicalVolumes = disk.lvm.logicalVolumes.size();

  result.directorySectorsAdded = MergeInto(disk.directorySectors, v.directorySectors);
  MergeFragments(disk.mftFragments, v.mftFragments, result.mftFragmentsAdded);
  result.carvedFilesAdded = MergeInto(disk.carvedFiles, v.carvedFiles);
  if (contents.collectionsRead) {
    disk.extraFoundFiles.name = v.extraFoundFiles.name;
    disk.extraFoundFiles.size = 0;
  }
}

}  // namespace

ScanFileLoadResult LoadScanResult(DiskRecord& disk, const ByteSource& file) {
  ScanFileLoadResult result;
  ScanFileContents contents;
  const std::string identity = disk.Identity();
  ReadScanFile(file, contents, &identity, ScanFileDiskBounds::Of(disk));
  result.fileIdentity = contents.identity;
  result.encoding = contents.encoding;
  result.problems = contents.problems;
  result.problemCount = contents.problemCount;
  result.clippedRanges = contents.clippedRanges;
  // A group and an image can carry the same text; their kinds tell them apart.
  if (contents.otherDisk || (contents.diskValuesRead && contents.values.diskKind != disk.diskKind)) {
    result.status = ScanFileLoadStatus::kOtherDisk;
    return result;
  }
  if (contents.identity.empty() && !contents.collectionsRead) {
    // Not even line 1: nothing to go by.
    result.status = ScanFileLoadStatus::kDamaged;
    return result;
  }
  Apply(contents, disk, result);
  result.status = contents.Damaged() ? ScanFileLoadStatus::kDamaged : ScanFileLoadStatus::kLoaded;
  return result;
}

ScanFileLoadResult LoadScanResult(DiskRecord& disk, const std::string& path) {
  std::string error;
  std::unique_ptr<FileSource> file = FileSource::Open(path, &error);
  if (!file) {
    ScanFileLoadResult result;
    result.status = ScanFileLoadStatus::kCannotOpen;
    result.error = error;
    return result;
  }
  return LoadScanResult(disk, *file);
}

}  // namespace quorvel

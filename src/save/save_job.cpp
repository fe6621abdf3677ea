#include "save/save_job.h"

#include "save/name_repair.h"
#include "save/source_copy.h"
#include "save/target_naming.h"

namespace quorvel {

SaveEngineMode SaveEngineModeForFsKind(uint8_t fsKind) {
  if (IsFat16Kind(fsKind) || IsFat32Kind(fsKind)) return kClusterMode;
  if (IsNtfsKind(fsKind)) return kRecordMode;
  return kNoSaveEngine;
}

namespace {

template <typename Entry>
void CollectRows(Entry& entry, uint64_t fileId, bool underExtension, std::vector<std::string>& chain,
                 std::vector<SelectedEntry>& out) {
  uint8_t check = GetCheckState(entry.flags);
  if (check == kChecked) {
    SelectedEntry selected;
    if constexpr (std::is_same_v<Entry, FatFileEntry>)
      selected.fat = &entry;
    else
      selected.ntfs = &entry;
    selected.fileId = fileId;
    selected.folderChain = chain;
    selected.underExtensionFolder = underExtension;
    out.push_back(selected);
  } else if (check == kPartlyChecked) {
    chain.push_back(entry.name);
    for (Entry& child : entry.children) {
      uint64_t childId;
      if constexpr (std::is_same_v<Entry, FatFileEntry>)
        childId = child.firstCluster;
      else
        childId = child.recordNumber;
      CollectRows(child, childId, underExtension, chain, out);
    }
    chain.pop_back();
  }
}

bool CarvedFilesInside(const DiskRecord& disk, const PartitionRecord& partition) {
  auto it = disk.carvedFiles.lower_bound(partition.startSector);
  return it != disk.carvedFiles.end() && it->first - partition.startSector < partition.sectorCount;
}

}  // namespace

std::vector<SelectedEntry> CollectCheckedEntries(PartitionRecord& partition, DiskRecord* disk) {
  std::vector<SelectedEntry> out;
  std::vector<std::string> chain;
  FileTree& tree = *partition.tree;
  SaveEngineMode mode = SaveEngineModeForFsKind(partition.fsKind);
  if (mode == kClusterMode) {
    for (FatFileEntry* special : {&tree.fatRoot, &tree.fatLost})
      if (special->state() != kNoState) CollectRows(*special, special->firstCluster, false, chain, out);
  } else if (mode == kRecordMode) {
    for (NtfsFileEntry* special : {&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension})
      if (special->state() != kNoState)
        CollectRows(*special, special->recordNumber, special == &tree.ntfsExtension, chain, out);
  }
  // The carved-files folder and its files keep their marks in the low bits of their state.
  if (!disk || !CarvedFilesInside(*disk, partition)) return out;
  const uint8_t folderMark = disk->extraFoundFiles.state & 0x03;
  if (folderMark == kChecked) {
    SelectedEntry carved;
    carved.carvedFolder = true;
    out.push_back(carved);
  } else if (folderMark == kPartlyChecked) {
    for (auto it = disk->carvedFiles.lower_bound(partition.startSector);
         it != disk->carvedFiles.end() && it->first - partition.startSector < partition.sectorCount; ++it) {
      if ((it->second.state & 0x03) != kChecked) continue;
      SelectedEntry carved;
      carved.carvedFile = true;
      carved.carvedSector = it->first;
      out.push_back(carved);
    }
  }
  return out;
}

namespace {

bool PassesOptions(uint8_t state, const std::string& name, const SaveOptions& options) {
  if (state == kDeletedFile && !options.recoverDeleted) return false;
  if (state == kFile && !options.recoverNormal) return false;
  if (state != kDeletedFile && state != kFile) return false;
  return options.nameFilter.empty() || MatchNameFilter(name, options.nameFilter);
}

uint64_t FatBytes(const FatFileEntry& entry, const SaveOptions& options) {
  if (IsFolderState(entry.state())) {
    uint64_t total = 0;
    for (const FatFileEntry& child : entry.children) total += FatBytes(child, options);
    return total;
  }
  std::string name = entry.name;
  RepairName(name, kNameReplacement);
  return PassesOptions(entry.state(), name, options) ? entry.size : 0;
}

uint64_t NtfsBytes(const NtfsFileEntry& entry, const SaveOptions& options) {
  if (IsFolderState(entry.state())) {
    uint64_t total = 0;
    for (const NtfsFileEntry& child : entry.children) total += NtfsBytes(child, options);
    return total;
  }
  return PassesOptions(entry.state(), entry.name, options) ? entry.size : 0;
}

}  // namespace

uint64_t SelectedBytes(const SelectedEntry& selected, const SaveOptions& options, const DiskRecord* disk,
                       const PartitionRecord& partition) {
  if (selected.fat) return FatBytes(*selected.fat, options);
  if (selected.ntfs) return NtfsBytes(*selected.ntfs, options);
  uint64_t total = 0;
  if (selected.carvedFile && disk) {
    auto it = disk->carvedFiles.find(selected.carvedSector);
    if (it != disk->carvedFiles.end()) total = it->second.size;
  } else if (selected.carvedFolder && disk) {
    for (auto it = disk->carvedFiles.lower_bound(partition.startSector);
         it != disk->carvedFiles.end() && it->first - partition.startSector < partition.sectorCount; ++it)
      if (options.nameFilter.empty() || MatchNameFilter(it->second.name, options.nameFilter)) total += it->second.size;
  }
  return total;
}

std::string SingleSaveSpaceText(uint64_t size) {
  double g = static_cast<double>(size) / (1024.0 * 1024.0 * 1024.0);
  double value;
  const char* unit;
  if (g > 0.0001 && g < 0.1) {
    value = static_cast<double>(size) / (1024.0 * 1024.0);
    unit = " MB";
  } else if (g < 0.0001) {
    value = static_cast<double>(size) / 1024.0;
    unit = " KB";
  } else {
    value = g;
    unit = " GB";
  }
  return FormatText("即将保存 %.1f", value) + unit + ",磁盘空间不够！";
}

std::shared_ptr<SectorDevice> OpenSaveDevice(const DiskRecord& disk, const PartitionRecord& partition) {
  auto device = std::make_shared<SectorDevice>();
  if (!OpenPartitionDevice(partition, disk.devicePath, *device)) return nullptr;
  return device;
}

bool PrepareSaveJob(DiskRecord& disk, PartitionRecord& partition, const SelectedEntry& selected,
                    const SaveOptions& options, std::shared_ptr<SectorDevice> device, ScanProgress* progress,
                    SaveJob& job) {
  job = SaveJob();
  job.device = std::move(device);
  job.partition = &partition;
  job.progress = progress;
  job.nameFilter = options.nameFilter;
  job.useFatReference = options.useFatReference;
  job.recoverDeleted = options.recoverDeleted;
  job.recoverNormal = options.recoverNormal;

  if (selected.carvedFolder || selected.carvedFile) {
    job.extentRoot = &disk.extraFoundFiles;
    job.extentMap = &disk.carvedFiles;
    // One carved file: the range holds its start sector alone.
    job.extentStartSector = selected.carvedFile ? selected.carvedSector : partition.startSector;
    job.extentSectorCount = selected.carvedFile ? 1 : partition.sectorCount;
    job.targetFolder = options.targetFolder;
    return true;
  }

  SaveEngineMode mode = SaveEngineModeForFsKind(partition.fsKind);
  // The folders above the entry are recreated with the names its engine
  // would give them.
  std::string folder = options.targetFolder;
  for (const std::string& name : selected.folderChain) {
    std::string safe = name;
    if (mode == kClusterMode)
      RepairName(safe, kNameReplacement);
    else
      safe = SafeTargetName(name);
    folder = JoinTargetPath(folder, safe);
  }
  job.targetFolder = folder;

  if (mode == kClusterMode && selected.fat) {
    job.engineMode = kClusterMode;
    job.fatRoot = selected.fat;
    return true;
  }
  if (mode == kRecordMode && selected.ntfs) {
    job.engineMode = kRecordMode;
    job.ntfsRoot = selected.ntfs;
    // The extension folder's entries hold start sectors, not record numbers.
    job.recordDecoding = !(selected.fileId == 1 || selected.underExtensionFolder);
    return true;
  }
  return false;
}

}  // namespace quorvel

#include "save/save_job.h"

#include <algorithm>

#include "io/volume_source.h"
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

// The number the page shows for an entry: first cluster or record number.
uint64_t FileIdOf(const FatFileEntry& entry) { return entry.firstCluster; }
uint64_t FileIdOf(const NtfsFileEntry& entry) { return entry.recordNumber; }

template <typename Entry>
void SelectRows(Entry& top, bool underExtension, const PickEntry& pick, std::vector<SelectedEntry>& out) {
  std::vector<std::string> chain;  // names of the folders above the entry visited
  VisitTree(top, [&](Entry& entry, size_t depth) {
    chain.resize(depth);
    const Pick picked = pick(FileEntryRef(&entry));
    if (picked == Pick::kWhole) {
      SelectedEntry selected;
      if constexpr (std::is_same_v<Entry, FatFileEntry>)
        selected.fat = &entry;
      else
        selected.ntfs = &entry;
      selected.fileId = FileIdOf(entry);
      selected.folderChain = chain;
      selected.underExtensionFolder = underExtension;
      out.push_back(std::move(selected));
      return false;
    }
    if (picked != Pick::kPart) return false;
    chain.push_back(entry.name);
    return true;
  });
}

}  // namespace

std::vector<SelectedEntry> SelectEntries(PartitionRecord& partition, const PickEntry& pick) {
  std::vector<SelectedEntry> out;
  FileTree& tree = *partition.tree;
  const SaveEngineMode mode = SaveEngineModeForFsKind(partition.fsKind);
  if (mode == kClusterMode) {
    for (FatFileEntry* special : {&tree.fatRoot, &tree.fatLost})
      if (special->state() != kNoState) SelectRows(*special, false, pick, out);
  } else if (mode == kRecordMode) {
    for (NtfsFileEntry* special : {&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension})
      if (special->state() != kNoState) SelectRows(*special, special == &tree.ntfsExtension, pick, out);
  }
  return out;
}

SelectedEntry CarvedFolderEntry() {
  SelectedEntry carved;
  carved.carvedFolder = true;
  return carved;
}

SelectedEntry CarvedFileEntry(uint64_t startSector) {
  SelectedEntry carved;
  carved.carvedFile = true;
  carved.carvedSector = startSector;
  return carved;
}

namespace {

bool PassesOptions(uint8_t state, const std::string& name, const SaveOptions& options) {
  if (state == kDeletedFile && !options.recoverDeleted) return false;
  if (state == kFile && !options.recoverNormal) return false;
  if (state != kDeletedFile && state != kFile) return false;
  return options.nameFilter.empty() || MatchNameFilter(name, options.nameFilter);
}

// A FAT file holds at most what its partition holds, whatever its entry
// claims (a deleted entry can claim 4 GiB on a volume of 128 KiB): what the
// save can write of it.
uint64_t FatBytes(const FatFileEntry& top, const SaveOptions& options, uint64_t partitionBytes) {
  uint64_t total = 0;
  VisitTree(top, [&](const FatFileEntry& entry, size_t) {
    if (IsFolderState(entry.state())) return true;
    std::string name = entry.name;
    RepairName(name, kNameReplacement);
    if (PassesOptions(entry.state(), name, options)) total += std::min<uint64_t>(entry.size, partitionBytes);
    return false;
  });
  return total;
}

uint64_t NtfsBytes(const NtfsFileEntry& top, const SaveOptions& options) {
  uint64_t total = 0;
  VisitTree(top, [&](const NtfsFileEntry& entry, size_t) {
    if (IsFolderState(entry.state())) return true;
    if (PassesOptions(entry.state(), entry.name, options)) total += entry.size;
    return false;
  });
  return total;
}

// Bytes of the partition that exist on its disk.
uint64_t PartitionBytes(const DiskRecord* disk, const PartitionRecord& partition) {
  const uint64_t sectorBytes = partition.bytesPerSector ? partition.bytesPerSector : 512;
  uint64_t bytes = partition.sectorCount == 0 || partition.sectorCount > UINT64_MAX / sectorBytes
                       ? UINT64_MAX
                       : partition.sectorCount * sectorBytes;
  if (disk && disk->sizeBytes && partition.volumeKind == kPlainVolume) {
    const uint64_t start = partition.startSector * 512;
    bytes = std::min(bytes, disk->sizeBytes > start ? disk->sizeBytes - start : 0);
  }
  return bytes;
}

}  // namespace

uint64_t SelectedBytes(const SelectedEntry& selected, const SaveOptions& options, const DiskRecord* disk,
                       const PartitionRecord& partition) {
  if (selected.fat) return FatBytes(*selected.fat, options, PartitionBytes(disk, partition));
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

SaveCheck CheckSaveSelection(const SaveSelection& selection, const DiskRecord& disk, const PartitionRecord& partition,
                             uint64_t freeBytes) {
  SaveCheck check;
  check.bytesFree = freeBytes;
  if (selection.entries.empty()) {
    check.refusal = SaveRefusal::kNoSelection;
    return check;
  }
  if (selection.options.targetFolder.empty()) {
    check.refusal = SaveRefusal::kNoTarget;
    return check;
  }
  for (const SelectedEntry& selected : selection.entries)
    check.bytesToSave += SelectedBytes(selected, selection.options, &disk, partition);
  const bool tooLittleRoom = selection.multiSelect ? MultiSelectSpaceShort(check.bytesToSave, freeBytes)
                                                   : SingleSelectSpaceShort(check.bytesToSave, freeBytes);
  if (tooLittleRoom) check.refusal = SaveRefusal::kSpaceShort;
  return check;
}

SharedSource OpenSaveSource(const DiskRecord& disk, const PartitionRecord& partition) {
  return OpenPartitionSource(disk, partition);
}

bool PrepareSaveJob(DiskRecord& disk, PartitionRecord& partition, const SelectedEntry& selected,
                    const SaveOptions& options, SharedSource source, ScanProgress* progress, SaveJob& job) {
  job = SaveJob();
  job.source = std::move(source);
  job.partition = &partition;
  job.progress = progress;
  job.options = options;
  job.targetRoot = options.targetFolder;

  if (selected.carvedFolder || selected.carvedFile) {
    job.extentRoot = &disk.extraFoundFiles;
    job.extentMap = &disk.carvedFiles;
    // One carved file: the range holds its start sector alone.
    job.extentStartSector = selected.carvedFile ? selected.carvedSector : partition.startSector;
    job.extentSectorCount = selected.carvedFile ? 1 : partition.sectorCount;
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
  job.options.targetFolder = folder;

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

std::vector<SaveJob> PrepareSaveJobs(DiskRecord& disk, PartitionRecord& partition, const SaveSelection& selection,
                                     const SharedSource& source, ScanProgress* progress) {
  std::vector<SaveJob> jobs;
  for (const SelectedEntry& selected : selection.entries) {
    SaveJob job;
    if (PrepareSaveJob(disk, partition, selected, selection.options, source, progress, job))
      jobs.push_back(std::move(job));
  }
  return jobs;
}

}  // namespace quorvel

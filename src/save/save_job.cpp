#include "save/save_job.h"

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

template <typename Entry>
void SelectRows(Entry& entry, uint64_t fileId, bool underExtension, const PickEntry& pick,
                std::vector<std::string>& chain, std::vector<SelectedEntry>& out) {
  const Pick picked = pick(FileEntryRef(&entry));
  if (picked == Pick::kWhole) {
    SelectedEntry selected;
    if constexpr (std::is_same_v<Entry, FatFileEntry>)
      selected.fat = &entry;
    else
      selected.ntfs = &entry;
    selected.fileId = fileId;
    selected.folderChain = chain;
    selected.underExtensionFolder = underExtension;
    out.push_back(selected);
  } else if (picked == Pick::kPart) {
    chain.push_back(entry.name);
    for (Entry& child : entry.children) {
      uint64_t childId;
      if constexpr (std::is_same_v<Entry, FatFileEntry>)
        childId = child.firstCluster;
      else
        childId = child.recordNumber;
      SelectRows(child, childId, underExtension, pick, chain, out);
    }
    chain.pop_back();
  }
}

}  // namespace

std::vector<SelectedEntry> SelectEntries(PartitionRecord& partition, const PickEntry& pick) {
  std::vector<SelectedEntry> out;
  std::vector<std::string> chain;
  FileTree& tree = *partition.tree;
  const SaveEngineMode mode = SaveEngineModeForFsKind(partition.fsKind);
  if (mode == kClusterMode) {
    for (FatFileEntry* special : {&tree.fatRoot, &tree.fatLost})
      if (special->state() != kNoState) SelectRows(*special, special->firstCluster, false, pick, chain, out);
  } else if (mode == kRecordMode) {
    for (NtfsFileEntry* special : {&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension})
      if (special->state() != kNoState)
        SelectRows(*special, special->recordNumber, special == &tree.ntfsExtension, pick, chain, out);
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

#pragma once
// Preparing saves: which engine a partition takes, which entries a selection
// stands for, the checks before a run, and the SaveJob of each selected
// entry. The faces (CLI, GUI) gather the selection, ask the questions and
// word every message from what these return.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "save/save_types.h"

namespace quorvel {

// Cluster mode for the FAT kinds, record mode for NTFS, none otherwise.
SaveEngineMode SaveEngineModeForFsKind(uint8_t fsKind);

// How an entry takes part in a save: not at all, with its whole subtree, or
// through some of the entries below it.
enum class Pick : uint8_t { kNone, kWhole, kPart };
using PickEntry = std::function<Pick(FileEntryRef entry)>;

// Walks the partition's tree from the special folders its reader marked,
// asking pick about each entry: kWhole makes the entry one element for its
// whole subtree, kPart descends into its children, kNone skips it. Elements
// come in tree order, each with the folders above it.
std::vector<SelectedEntry> SelectEntries(PartitionRecord& partition, const PickEntry& pick);

// The "Extra Found Files" element; it is only worth selecting when a carved
// file starts inside the partition (CarvedFilesInsidePartition,
// recover/partition_launch.h).
SelectedEntry CarvedFolderEntry();
// One carved file, the one that starts at startSector.
SelectedEntry CarvedFileEntry(uint64_t startSector);

// Bytes the files below an element would take (files of the kinds the options
// save and that pass the filter).
uint64_t SelectedBytes(const SelectedEntry& selected, const SaveOptions& options, const DiskRecord* disk,
                       const PartitionRecord& partition);

// Multi-select: the total does not fit in what the target has free.
inline bool MultiSelectSpaceShort(uint64_t total, uint64_t freeBytes) { return total > freeBytes; }
// Single-select: the size is not below what the target has free.
inline bool SingleSelectSpaceShort(uint64_t size, uint64_t freeBytes) { return size >= freeBytes; }

// Why a save may not start.
enum class SaveRefusal : uint8_t {
  kNone,
  kNoSelection,  // nothing selected
  kNoTarget,     // no target folder named
  kSpaceShort,   // the target has too little room (bytesToSave, bytesFree)
};

struct SaveCheck {
  SaveRefusal refusal = SaveRefusal::kNone;
  uint64_t bytesToSave = 0;  // what the selected files take
  uint64_t bytesFree = 0;    // what the target has free
};

// The checks of a selection before a run: entries chosen, a target named,
// and room for them (the multi-select and single-select rules).
SaveCheck CheckSaveSelection(const SaveSelection& selection, const DiskRecord& disk, const PartitionRecord& partition,
                             uint64_t freeBytes);

// Opens the source read-only for the jobs of one partition: what its sectors
// count in (io/volume_source.h). Null when it cannot be opened.
SharedSource OpenSaveSource(const DiskRecord& disk, const PartitionRecord& partition);

// Builds the job of one element. False when the partition has no engine and
// the element is not the carved-files folder.
bool PrepareSaveJob(DiskRecord& disk, PartitionRecord& partition, const SelectedEntry& selected,
                    const SaveOptions& options, SharedSource source, ScanProgress* progress, SaveJob& job);

// The jobs of every element of a selection that has an engine.
std::vector<SaveJob> PrepareSaveJobs(DiskRecord& disk, PartitionRecord& partition, const SaveSelection& selection,
                                     const SharedSource& source, ScanProgress* progress);

}  // namespace quorvel

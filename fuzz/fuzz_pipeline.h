#pragma once
// What a user's session does with one partition, run over an in-memory image:
// the expansion with its tree, the command line's tree and JSON output, the
// hex view's loaders, a save of everything into a temporary folder, then the
// format-information scan and the expansion that rebuilds from its traces,
// listed and saved again. The pipeline fuzz targets share it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/tree_output.h"
#include "io/byte_source.h"
#include "recover/expand_partition.h"
#include "recover/file_bytes.h"
#include "recover/format_info_scan.h"
#include "recover/partition_launch.h"
#include "save/save_engines.h"
#include "save/save_job.h"

namespace quorvel::fuzz {

// Room the save may fill per input: a saved file is as long as its entry
// says, and a lying entry says up to 4 GiB.
constexpr uint64_t kSaveRoom = 16u << 20;
// Hex views of files up to this size are loaded.
constexpr uint64_t kViewLimit = 1u << 20;

inline FILE* Sink() {
  static FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

// A private folder for the saves of this process, emptied after each input
// and removed at exit; in memory when the system offers it (saves create
// many small files).
class SaveFolderOwner {
 public:
  SaveFolderOwner() {
    std::error_code ec;
    const std::filesystem::path base =
        ::access("/dev/shm", W_OK) == 0 ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path(ec);
    std::string pattern = (base / "quorvel-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
  }
  ~SaveFolderOwner() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline const std::filesystem::path& SaveFolder() {
  static const SaveFolderOwner owner;
  return owner.path();
}

inline void ListAndView(const DiskRecord& disk, PartitionRecord& partition, const ByteSource& source) {
  cli::PrintPartitionTree(disk, partition, false, Sink());
  cli::PrintPartitionTree(disk, partition, true, Sink());
  BuildFolderTreeView(disk, partition, ExpansionModeForFsKind(partition.fsKind));
  std::vector<uint8_t> bytes;
  const FileTree& tree = *partition.tree;
  for (const auto& [cluster, entry] : tree.NormalEntryByCluster)
    if (entry->size <= kViewLimit) LoadFatEntryBytes(source, partition, *entry, bytes);
  tree.EntryByNumber.ForEach([&](uint64_t, const NtfsFileEntry* entry) {
    bool read = false, mftError = false;
    if (entry->size <= kViewLimit) LoadNtfsEntryBytes(source, partition, *entry, bytes, read, mftError);
  });
}

// Half the saves (by the disk's size) find a link planted where the root
// folder goes, pointing to a folder beside the target: nothing may arrive
// there.
inline void PlantLink(const std::filesystem::path& target, const std::filesystem::path& trap) {
  std::error_code ignored;
  std::filesystem::create_directories(target, ignored);
  std::filesystem::create_directories(trap, ignored);
  std::filesystem::create_directory_symlink(trap, target / "根目录", ignored);
}

inline void SaveEverything(DiskRecord& disk, PartitionRecord& partition, const SharedSource& source) {
  const std::filesystem::path trap = SaveFolder() / "trap";
  const bool planted = disk.sizeBytes % 2 == 1;
  if (planted) PlantLink(SaveFolder() / "out", trap);
  SaveSelection selection;
  selection.options.targetFolder = (SaveFolder() / "out").string();
  selection.entries = SelectEntries(partition, [](FileEntryRef) { return Pick::kWhole; });
  if (CarvedFilesInsidePartition(disk, partition)) selection.entries.push_back(CarvedFolderEntry());
  if (CheckSaveSelection(selection, disk, partition, kSaveRoom).refusal == SaveRefusal::kNone) {
    ScanProgress progress;
    std::vector<SaveJob> jobs = PrepareSaveJobs(disk, partition, selection, source, &progress);
    SaveRun run;
    MultiSelectSaveThreadMain(jobs, run);
  }
  std::error_code ignored;
  if (planted && !std::filesystem::is_empty(trap, ignored)) __builtin_trap();
  std::filesystem::remove_all(SaveFolder() / "out", ignored);
  std::filesystem::remove_all(trap, ignored);
}

// The session over one partition whose sectors `source` counts in.
inline void RunPartitionPipeline(DiskRecord& disk, PartitionRecord& partition, const SharedSource& source) {
  if (ExpansionModeForFsKind(partition.fsKind) == kNoReader) return;
  ScanProgress progress;
  std::string error;
  ExpandPartition(*source, disk, partition, progress, error);
  ListAndView(disk, partition, *source);
  SaveEverything(disk, partition, source);
  ScanFormatInfo(*source, disk, partition, progress, error);
  ExpandPartition(*source, disk, partition, progress, error);
  ListAndView(disk, partition, *source);
  SaveEverything(disk, partition, source);
}

// A disk holding one volume of the given kind that fills the whole image.
inline DiskRecord WholeVolumeDisk(const ByteSource& source, uint8_t fsKind) {
  DiskRecord disk;
  disk.devicePath = "fuzz.img";
  disk.sizeBytes = source.Size();
  PartitionRecord partition;
  partition.name = "Partition0";
  partition.fsKind = fsKind;
  partition.sectorCount = source.Size() / 512;
  disk.partitions.push_back(std::move(partition));
  return disk;
}

}  // namespace quorvel::fuzz

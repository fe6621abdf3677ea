// The launch both faces use to open a partition: one worker thread per run,
// guarded by OperationBusy, and the folder-tree rows the run leaves behind.
#include "recover/partition_launch.h"

#include <algorithm>
#include <exception>

#include "core/operation_busy.h"
#include "recover/format_info_scan.h"

namespace quorvel {

const char* const kBusyRefusalText = "请等待当前操作完成";

const char* PartitionCommandStartText(PartitionCommand command) {
  return command == PartitionCommand::kFormatInfo ? "正在扫描格式化信息，请稍等..." : "正在展开分区，请稍等...";
}

const char* PartitionCommandTitle(PartitionCommand command) {
  return command == PartitionCommand::kFormatInfo ? "扫描格式化信息" : "展开分区";
}

// --- folder tree -------------------------------------------------------------

namespace {

// Folder rows below the partition row: the special folder and its folders in
// list order, files skipped. Folders nested deeper than the tree-list shows
// are placed at its deepest level, under the nearest ancestor it shows.
template <typename Entry, typename FillRow>
void AddFolderRows(const Entry& special, std::vector<FolderRow>& rows, FillRow fill) {
  VisitTree(special, [&](const Entry& folder, size_t depth) {
    if (!IsFolderState(folder.state())) return false;
    FolderRow row;
    row.depth = static_cast<int>(std::min<size_t>(depth, kMaxFolderRowDepth - 1)) + 1;
    row.name = folder.name;
    row.red = folder.state() == kDeletedFolder;
    row.image = row.red ? kDeletedFolderRowImage : kFolderRowImage;
    row.entry = &folder;
    fill(folder, row);
    rows.push_back(std::move(row));
    return true;
  });
}

void AddFatRows(const FatFileEntry& special, std::vector<FolderRow>& rows) {
  AddFolderRows(special, rows, [](const FatFileEntry& folder, FolderRow& row) {
    row.fileId = FormatText("%u", folder.firstCluster);
    row.createTime = FormatDosTime(folder.creationDate, folder.creationTime);
  });
}

void AddNtfsRows(const NtfsFileEntry& special, std::vector<FolderRow>& rows) {
  AddFolderRows(special, rows, [](const NtfsFileEntry& folder, FolderRow& row) {
    row.fileId = FormatText("%u", static_cast<uint32_t>(folder.recordNumber));  // low 32 bits are shown
    row.createTime = FormatFileTime(folder.creationTime);
  });
}

}  // namespace

bool CarvedFilesInsidePartition(const DiskRecord& disk, const PartitionRecord& partition) {
  auto it = disk.carvedFiles.lower_bound(partition.startSector);
  return it != disk.carvedFiles.end() && it->first < partition.startSector + partition.sectorCount;
}

FolderTreeView BuildFolderTreeView(const DiskRecord& disk, const PartitionRecord& partition, ExpansionMode mode) {
  FolderTreeView view;
  view.mode = mode;
  const FileTree& tree = *partition.tree;
  // A special folder that no reader has marked gets no row.
  if (mode == kExpandFat32 || mode == kExpandFat16) {
    for (const FatFileEntry* special : {&tree.fatRoot, &tree.fatLost})
      if (special->state() != kNoState) AddFatRows(*special, view.rows);
  } else if (mode == kExpandNtfs) {
    // The extension folder's entries are system files: no row of its own.
    for (const NtfsFileEntry* special : {&tree.ntfsRoot, &tree.ntfsLost})
      if (special->state() != kNoState) AddNtfsRows(*special, view.rows);
  }
  if (CarvedFilesInsidePartition(disk, partition)) {
    view.showExtraFoundFiles = true;
    view.extraFoundFilesName = disk.extraFoundFiles.name.empty() ? "Extra Found Files" : disk.extraFoundFiles.name;
    FolderRow row;
    row.name = view.extraFoundFilesName;
    row.createTime = view.extraFoundFilesName;
    view.rows.push_back(std::move(row));
  }
  return view;
}

// --- launch ------------------------------------------------------------------

namespace {

PartitionRunResult RunPartitionCommand(const PartitionLaunchRequest& request) {
  DiskRecord& disk = *request.disk;
  PartitionRecord& partition = *request.partition;
  ScanProgress& progress = *request.progress;
  PartitionRunResult result;
  result.command = request.command;
  result.mode = ExpansionModeForFsKind(partition.fsKind);
  bool ok = false;
  switch (request.command) {
    case PartitionCommand::kExpand:
      ok = ExpandPartition(disk, partition, progress, result.error);
      break;
    case PartitionCommand::kExpandRecorded:
      ok = ExpandPartition(disk, partition, progress, result.error, RecordedSectors::kRebuild);
      break;
    case PartitionCommand::kFormatInfo:
      ok = ScanFormatInfo(disk, partition, progress, result.error);
      break;
  }
  result.stopped = progress.StopRequested();
  result.completed = ok && !result.stopped;
  if (request.withFolderView) result.view = BuildFolderTreeView(disk, partition, result.mode);
  result.directorySectors = CountDirectorySectors(disk, partition.startSector, partition.sectorCount);
  if (request.onFinished) request.onFinished(result);
  return result;
}

}  // namespace

std::unique_ptr<PartitionRun> LaunchPartitionRun(const PartitionLaunchRequest& request, std::string& refusal) {
  refusal.clear();
  if (!request.disk || !request.partition || !request.progress) {
    refusal = "未选择分区";
    return nullptr;
  }
  if (OperationBusy().load()) {
    refusal = kBusyRefusalText;
    return nullptr;
  }
  std::string noReader = NoReaderMessage(*request.partition);
  if (!noReader.empty()) {
    refusal = noReader;
    return nullptr;
  }
  if (!TryClaimOperation()) {
    refusal = kBusyRefusalText;
    return nullptr;
  }
  ScanProgress& progress = *request.progress;
  progress.stopFlag.store(0);
  progress.SetText(PartitionCommandStartText(request.command));
  EmptyPartitionTree(*request.partition);

  auto run = std::make_unique<PartitionRun>();
  auto work = [request] { return RunPartitionCommand(request); };
  auto failed = [request](PartitionRunResult& result, const std::exception& e) {
    result.command = request.command;
    result.mode = ExpansionModeForFsKind(request.partition->fsKind);
    result.completed = false;
    result.error = std::string("内部错误: ") + e.what();
  };
  if (!run->Start(progress, work, failed, refusal)) return nullptr;
  return run;
}

bool FindLaunchTarget(DiskList& list, const std::string& diskName, const std::string& partitionName, DiskRecord*& disk,
                      PartitionRecord*& partition) {
  disk = nullptr;
  partition = nullptr;
  for (DiskRecord& d : list) {
    if (d.Identity() != diskName) continue;
    disk = &d;
    for (PartitionRecord& p : d.partitions) {
      if (p.name == partitionName || (!p.driveLetter.empty() && p.driveLetter == partitionName)) {
        partition = &p;
        return true;
      }
    }
    return false;
  }
  return false;
}

}  // namespace quorvel

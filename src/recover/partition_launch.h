#pragma once
// Opening a partition on a worker thread: the expansion and the format-
// information scan, as both faces start them, and what their folder tree
// shows when the run ends.
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/scan_progress.h"
#include "model/disk_records.h"
#include "recover/expand_partition.h"
#include "recover/operation_run.h"

namespace quorvel {

enum class PartitionCommand {
  kExpand,  // read the file system as it stands
  // The same, but a FAT volume's folders are rebuilt from the directory
  // sectors a deep scan or a loaded scan-result file recorded inside it.
  kExpandRecorded,
  kFormatInfo,  // format recovery: the sweep, then (FAT) the rebuild from what it recorded
};

// Texts of the progress dialog for a command.
const char* PartitionCommandStartText(PartitionCommand command);  // "正在展开分区，请稍等..." ...
const char* PartitionCommandTitle(PartitionCommand command);      // "展开分区" / "扫描格式化信息"

// Refusal while another worker runs (the pages add their "警告: " prefix).
extern const char* const kBusyRefusalText;

// Tree-list images of folder-tree rows.
constexpr int kPartitionRowImage = 13;
constexpr int kFolderRowImage = 0;
constexpr int kDeletedFolderRowImage = 12;

// Rows of the folder tree go at most this deep below the partition row; a
// corrupt volume can nest folders thousands deep, more than a tree-list can
// hold. Deeper folders get rows at the deepest level.
constexpr size_t kMaxFolderRowDepth = 256;

// One row of the folder tree below the partition row.
struct FolderRow {
  int depth = 1;           // 1 = directly below the partition row
  std::string name;        // column 0
  std::string fileId;      // column 1: first cluster or record number
  std::string createTime;  // column 2
  int image = kFolderRowImage;
  bool red = false;                                                               // deleted folder
  std::variant<std::monostate, const FatFileEntry*, const NtfsFileEntry*> entry;  // none for "Extra Found Files"
};

// What the folder tree shows for a partition after a run: the special folders
// a reader has marked, with their folder subtrees in list order (files get no
// row), then "Extra Found Files" when a carved file starts inside the
// partition.
struct FolderTreeView {
  ExpansionMode mode = kNoReader;
  std::vector<FolderRow> rows;
  bool showExtraFoundFiles = false;
  std::string extraFoundFilesName;
};
FolderTreeView BuildFolderTreeView(const DiskRecord& disk, const PartitionRecord& partition, ExpansionMode mode);
// A carved file starts at a sector k with start <= k < start + count.
bool CarvedFilesInsidePartition(const DiskRecord& disk, const PartitionRecord& partition);

struct PartitionRunResult {
  PartitionCommand command = PartitionCommand::kExpand;
  ExpansionMode mode = kNoReader;
  bool completed = false;  // the reader ran to its end
  bool stopped = false;    // ended early on the stop flag; what it found is kept
  std::string error;
  FolderTreeView view;
  size_t directorySectors = 0;  // recorded directory sectors inside the partition
};

using PartitionRunCallback = std::function<void(const PartitionRunResult&)>;

struct PartitionLaunchRequest {
  PartitionCommand command = PartitionCommand::kExpand;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  ScanProgress* progress = nullptr;
  // Build the result's folder-tree rows (the command line shows none, and
  // walking a large tree for them costs time).
  bool withFolderView = true;
  // Runs on the worker thread once the tree is final, while OperationBusy is
  // still held; a face that shows the tree on its own thread hands it over.
  PartitionRunCallback onFinished;
};

// A running or finished worker. Destroying it waits for the worker.
using PartitionRun = OperationRun<PartitionRunResult>;

// Starts the command on a worker thread: refuses (null, refusal set) while
// OperationBusy is set, for partitions without a reader, and for incomplete
// requests. Otherwise claims OperationBusy, clears the stop flag, sets the
// start text, empties the partition's tree and starts the worker, which
// clears OperationBusy on every path and closes the progress sink at its end.
std::unique_ptr<PartitionRun> LaunchPartitionRun(const PartitionLaunchRequest& request, std::string& refusal);

// The disk whose identity text equals diskName and its first partition whose
// name or drive text equals partitionName; false when either is missing.
bool FindLaunchTarget(DiskList& list, const std::string& diskName, const std::string& partitionName, DiskRecord*& disk,
                      PartitionRecord*& partition);

}  // namespace quorvel

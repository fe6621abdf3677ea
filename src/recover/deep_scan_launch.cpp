#include "recover/deep_scan_launch.h"

#include <exception>

#include "core/operation_busy.h"
#include "recover/partition_launch.h"
#include "scan/deep_scan.h"

namespace quorvel {

DeepScanOutcome RunDeepScan(DiskRecord& disk, PartitionRecord* partition, ScanProgress& progress) {
  DeepScanOutcome outcome;
  outcome.startSector = partition ? partition->startSector : 0;
  outcome.sectorCount = partition ? partition->sectorCount : disk.sizeBytes / 512;
  const size_t partitions = disk.partitions.size();
  const size_t carved = disk.carvedFiles.size();
  const size_t directories = disk.directorySectors.size();
  const size_t fragments = disk.mftFragments.size();
  outcome.ran = DeepScan(disk, progress, outcome.startSector, outcome.sectorCount, partition, &outcome.error);
  outcome.stopped = progress.StopRequested();
  size_t index = 0;
  for (const PartitionRecord& p : disk.partitions)
    if (index++ >= partitions) outcome.partitionsAdded.push_back(p.name);
  outcome.carvedFilesAdded = disk.carvedFiles.size() - carved;
  outcome.directorySectorsAdded = disk.directorySectors.size() - directories;
  outcome.mftFragmentsAdded = disk.mftFragments.size() - fragments;
  return outcome;
}

std::unique_ptr<DeepScanRun> LaunchDeepScan(const DeepScanRequest& request, std::string& refusal) {
  refusal.clear();
  if (!request.disk || !request.progress) {
    refusal = "未选择磁盘";
    return nullptr;
  }
  if (!TryClaimOperation()) {
    refusal = kBusyRefusalText;
    return nullptr;
  }
  ScanProgress& progress = *request.progress;
  progress.stopFlag.store(0);
  progress.SetText(kDeepScanStartText);
  auto run = std::make_unique<DeepScanRun>();
  auto work = [request] {
    DeepScanOutcome outcome = RunDeepScan(*request.disk, request.partition, *request.progress);
    if (request.onFinished) request.onFinished(outcome);
    return outcome;
  };
  auto failed = [](DeepScanOutcome& outcome, const std::exception& e) {
    outcome.error = std::string("内部错误: ") + e.what();
  };
  if (!run->Start(progress, work, failed, refusal)) return nullptr;
  return run;
}

}  // namespace quorvel

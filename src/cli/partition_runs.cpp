#include "cli/partition_runs.h"

#include <cstdio>

#include "cli/cli_interrupt.h"
#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "core/terminal_progress.h"

namespace quorvel::cli {

int RunPartitionCommand(PartitionCommand command, DiskRecord& disk, PartitionRecord& partition, bool quiet,
                        PartitionRunResult* result) {
  ScanProgress progress;
  TerminalProgressBar bar(quiet);
  progress.sink = &bar;
  InterruptStopsProgress interrupt(progress);

  PartitionLaunchRequest request;
  request.command = command;
  request.disk = &disk;
  request.partition = &partition;
  request.progress = &progress;
  std::string refusal;
  std::unique_ptr<PartitionRun> run = LaunchPartitionRun(request, refusal);
  if (!run) {
    std::fprintf(stderr, "quorvel: %s\n", refusal.c_str());
    return kExitNotFound;
  }
  const PartitionRunResult& finished = run->Wait();
  bar.Close();
  if (result) *result = finished;
  if (finished.stopped || interrupt.Interrupted()) {
    std::fprintf(stderr, "quorvel: stopped; showing what was found so far\n");
    return kExitStopped;
  }
  if (!finished.completed) {
    std::fprintf(stderr, "quorvel: %s\n",
                 finished.error.empty() ? "the partition could not be read" : finished.error.c_str());
    return kExitNotFound;
  }
  return kExitDone;
}

int RunFormatRecovery(DiskRecord& disk, PartitionRecord& partition, bool quiet) {
  return RunPartitionCommand(PartitionCommand::kFormatInfo, disk, partition, quiet);
}

int ReadPartitionTree(DiskRecord& disk, PartitionRecord& partition, TreeSource source, bool quiet) {
  switch (source) {
    case TreeSource::kFormatRecovery:
      return RunFormatRecovery(disk, partition, quiet);
    case TreeSource::kDeepScanResult:
      return RunPartitionCommand(PartitionCommand::kExpandRecorded, disk, partition, quiet);
    case TreeSource::kAsItStands:
      break;
  }
  return RunPartitionCommand(PartitionCommand::kExpand, disk, partition, quiet);
}

int RunDeepScanCommand(DiskRecord& disk, PartitionRecord* partition, bool quiet, DeepScanOutcome* outcome) {
  ScanProgress progress;
  TerminalProgressBar bar(quiet);
  progress.sink = &bar;
  InterruptStopsProgress interrupt(progress);

  DeepScanRequest request;
  request.disk = &disk;
  request.partition = partition;
  request.progress = &progress;
  std::string refusal;
  std::unique_ptr<DeepScanRun> run = LaunchDeepScan(request, refusal);
  if (!run) {
    std::fprintf(stderr, "quorvel: %s\n", refusal.c_str());
    return kExitNotFound;
  }
  const DeepScanOutcome& finished = run->Wait();
  bar.Close();
  if (outcome) *outcome = finished;
  if (!finished.ran) {
    std::fprintf(stderr, "quorvel: %s\n",
                 finished.error.empty() ? "the source could not be read" : finished.error.c_str());
    return kExitNotFound;
  }
  if (finished.stopped || interrupt.Interrupted()) {
    std::fprintf(stderr, "quorvel: stopped; showing what was found so far\n");
    return kExitStopped;
  }
  return kExitDone;
}

int DeepScanForPartition(DiskRecord& disk, const std::string& partitionText, bool quiet, PartitionRecord*& partition) {
  partition = partitionText.empty() ? nullptr : FindPartition(disk, partitionText);
  const bool wholeDisk = partition == nullptr;
  const int status = RunDeepScanCommand(disk, partition, quiet);
  if (status == kExitNotFound) return status;
  if (wholeDisk && !partitionText.empty()) {
    partition = FindPartition(disk, partitionText);
    if (!partition) {
      PrintNoPartition(disk, partitionText, ", also after the deep scan");
      return kExitNotFound;
    }
  }
  return status;
}

PartitionRecord WholeDiskRange(const DiskRecord& disk) {
  PartitionRecord whole;
  whole.startSector = 0;
  whole.sectorCount = disk.sizeBytes / 512;
  return whole;
}

}  // namespace quorvel::cli

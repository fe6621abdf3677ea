#include "cli/partition_runs.h"

#include <cstdio>

#include "cli/cli_interrupt.h"
#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "core/terminal_progress.h"

namespace quorvel::cli {

namespace {

// Says what of the partition could not be read: the part a table entry or
// boot sector claims past the source's end, MFT records, the FAT.
void NoteUnreadParts(const DiskRecord& disk, const PartitionRecord& partition) {
  if (partition.volumeKind == kPlainVolume && disk.sizeBytes != 0) {
    const uint64_t sourceSectors = disk.sizeBytes / 512;
    const uint64_t end = partition.startSector + partition.sectorCount;
    if (end > sourceSectors && partition.startSector < sourceSectors)
      std::fprintf(stderr,
                   "quorvel: %s claims %llu sectors, but the source ends after %llu of them: the %llu sectors past the "
                   "end of the source were not read\n",
                   partition.name.c_str(), static_cast<unsigned long long>(partition.sectorCount),
                   static_cast<unsigned long long>(sourceSectors - partition.startSector),
                   static_cast<unsigned long long>(end - sourceSectors));
  }
  if (partition.ntfs.unreadableRecords)
    std::fprintf(stderr, "quorvel: %llu MFT records could not be read\n",
                 static_cast<unsigned long long>(partition.ntfs.unreadableRecords));
  if (partition.fat.unreadableBytes)
    std::fprintf(stderr, "quorvel: %llu bytes of the FAT could not be read\n",
                 static_cast<unsigned long long>(partition.fat.unreadableBytes));
}

}  // namespace

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
  request.withFolderView = false;
  std::string refusal;
  std::unique_ptr<PartitionRun> run = LaunchPartitionRun(request, refusal);
  if (!run) {
    std::fprintf(stderr, "quorvel: %s\n", refusal.c_str());
    return kExitNotFound;
  }
  const PartitionRunResult& finished = run->Wait();
  bar.Close();
  if (result) *result = finished;
  if (finished.completed || finished.stopped) NoteUnreadParts(disk, partition);
  if (finished.stopped || interrupt.Interrupted()) {
    SayStopped();
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
    SayStopped();
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

#include "cli/lost_partition_run.h"

#include <cstdio>

#include "cli/cli_interrupt.h"
#include "cli/command_registry.h"
#include "core/terminal_progress.h"
#include "scan/found_partition_counter.h"

namespace quorvel::cli {

namespace {
const char* const kFlag = "--lost-partitions";
}  // namespace

int RunLostPartitionScan(DiskRecord& disk, LostScanMode mode, uint32_t tracksPerCylinder, bool quiet,
                         LostScanReport* report) {
  LostScanReport local;
  LostScanReport& out = report ? *report : local;
  TerminalProgressBar bar(quiet);
  FoundPartitionCounter counter(disk, &bar, [&bar](const std::string& text) { bar.Text(text); });
  ScanProgress progress;
  progress.sink = &counter;
  InterruptStopsProgress interrupt(progress);
  const bool done = ScanLostPartitions(disk, mode, tracksPerCylinder, progress, &out);
  bar.Close();
  if (!out.error.empty()) {
    std::fprintf(stderr, "quorvel: %s\n", out.error.c_str());
    return kExitNotFound;
  }
  if (out.stopped || interrupt.Interrupted() || !done) {
    SayStopped();
    return kExitStopped;
  }
  return kExitDone;
}

OptionSpec LostScanOptionSpec(const char* text) { return OptionSpec{kFlag, "precise", text, true}; }

bool ParseLostScanOption(const ParsedArgs& parsed, LostScanOption& option, std::string& error) {
  for (const std::string& mode : parsed.GetAll(kFlag)) {
    if (mode.empty() || mode == "quick") {
      option.mode = kQuickLostScan;
    } else if (mode == "precise") {
      option.mode = kPreciseLostScan;
    } else {
      error = std::string(kFlag) + "=" + mode + ": the scan is quick (the default) or precise";
      return false;
    }
    option.requested = true;
  }
  return true;
}

int OpenSourcePartitionAfterScan(const std::vector<std::string>& sources, const std::string& partitionText,
                                 const LostScanOption& option, bool quiet, DiskList& list, DiskRecord*& disk,
                                 PartitionRecord*& partition, ScanFileOption* scanFile) {
  const bool withFile = scanFile && scanFile->given();
  if (!option.requested && withFile)
    return OpenSourcesPartitionWithScanFile(sources, partitionText, *scanFile, list, disk, partition);
  if (!option.requested) return OpenSourcesPartition(sources, partitionText, list, disk, partition);
  partition = nullptr;
  if (sources.size() != 1) {
    std::fprintf(stderr, "quorvel: --lost-partitions scans one disk: give one SOURCE\n");
    return kExitUsage;
  }
  if (withFile) {
    if (OpenSourceWithScanFile(sources.front(), *scanFile, list, disk) != kExitDone) return kExitNotFound;
  } else if (OpenSource(sources.front(), list, disk) != kExitDone) {
    return kExitNotFound;
  }
  const int scanned = RunLostPartitionScan(*disk, option.mode, 0, quiet);
  if (scanned != kExitDone) return scanned;
  partition = FindPartition(*disk, partitionText);
  if (!partition) {
    PrintNoPartition(*disk, partitionText, ", also after the lost-partition scan");
    return kExitNotFound;
  }
  return kExitDone;
}

}  // namespace quorvel::cli

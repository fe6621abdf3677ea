#include "cli/partition_request.h"

#include "cli/cli_source.h"
#include "cli/partition_runs.h"

namespace quorvel::cli {

int ResolvePartitionRequest(const char* commandName, const ParsedArgs& parsed, size_t trailing,
                            PartitionRequest& request) {
  request.deepScan = parsed.Has("--deep-scan");
  request.formatScan = parsed.Has("--format-scan");
  request.quiet = parsed.Has("--quiet");
  if (request.deepScan && request.formatScan)
    return UsageError(commandName, "--format-scan and --deep-scan exclude each other");
  const std::vector<std::string>& words = parsed.positional;
  if (words.size() < trailing + 1) return UsageError(commandName, "arguments missing");
  request.scanFile.path = parsed.Get("--scan");
  const size_t before = words.size() - trailing;  // SOURCE... [PARTITION]
  // With --scan alone, one SOURCE without PARTITION means the file's carved
  // files of the whole disk.
  const bool carvedOfFile = !request.deepScan && !request.formatScan && request.scanFile.given() && before == 1;
  if (request.deepScan && before > 2) return UsageError(commandName, "unexpected argument \"" + words[2] + "\"");
  if (!request.deepScan && !carvedOfFile && before < 2)
    return UsageError(commandName, "PARTITION is missing (`quorvel disks SOURCE` lists them)");
  const size_t sources = request.deepScan || carvedOfFile ? 1 : before - 1;
  request.sources.assign(words.begin(), words.begin() + static_cast<long>(sources));
  request.partition = before > sources ? words[before - 1] : std::string();
  std::string error;
  if (!ParseLostScanOption(parsed, request.lostScan, error)) return UsageError(commandName, error);
  if (carvedOfFile && request.lostScan.requested) return UsageError(commandName, "--lost-partitions needs PARTITION");
  return kExitDone;
}

int OpenRequestedPartition(PartitionRequest& request, DiskList& list, DiskRecord*& disk, PartitionRecord*& partition,
                           PartitionRecord& wholeDisk) {
  if (!request.deepScan && !request.partition.empty())
    return OpenSourcePartitionAfterScan(request.sources, request.partition, request.lostScan, request.quiet, list, disk,
                                        partition, &request.scanFile);
  if (OpenSourceWithScanFile(request.sources.front(), request.scanFile, list, disk) != kExitDone) return kExitNotFound;
  const int status =
      request.deepScan ? DeepScanForPartition(*disk, request.partition, request.quiet, partition) : kExitDone;
  if (status != kExitNotFound && !partition) {
    wholeDisk = WholeDiskRange(*disk);
    partition = &wholeDisk;
  }
  return status;
}

int ReadRequestedTree(const PartitionRequest& request, DiskRecord& disk, PartitionRecord& partition) {
  // A loaded scan file brings its recorded directory sectors: its FAT
  // folders are rebuilt from them as after the scan itself.
  const TreeSource tree = request.formatScan                             ? TreeSource::kFormatRecovery
                          : request.deepScan || request.scanFile.given() ? TreeSource::kDeepScanResult
                                                                         : TreeSource::kAsItStands;
  return ReadPartitionTree(disk, partition, tree, request.quiet);
}

}  // namespace quorvel::cli

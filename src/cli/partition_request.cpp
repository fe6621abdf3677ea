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
  const size_t before = words.size() - trailing;  // SOURCE... [PARTITION]
  if (request.deepScan && before > 2) return UsageError(commandName, "unexpected argument \"" + words[2] + "\"");
  if (!request.deepScan && before < 2)
    return UsageError(commandName, "PARTITION is missing (`quorvel disks SOURCE` lists them)");
  const size_t sources = request.deepScan ? 1 : before - 1;
  request.sources.assign(words.begin(), words.begin() + static_cast<long>(sources));
  request.partition = before > sources ? words[before - 1] : std::string();
  std::string error;
  if (!ParseLostScanOption(parsed, request.lostScan, error)) return UsageError(commandName, error);
  return kExitDone;
}

int OpenRequestedPartition(const PartitionRequest& request, DiskList& list, DiskRecord*& disk,
                           PartitionRecord*& partition, PartitionRecord& wholeDisk) {
  if (!request.deepScan)
    return OpenSourcePartitionAfterScan(request.sources, request.partition, request.lostScan, request.quiet, list, disk,
                                        partition);
  if (OpenSource(request.sources.front(), list, disk) != kExitDone) return kExitNotFound;
  const int status = DeepScanForPartition(*disk, request.partition, request.quiet, partition);
  if (status != kExitNotFound && !partition) {
    wholeDisk = WholeDiskRange(*disk);
    partition = &wholeDisk;
  }
  return status;
}

int ReadRequestedTree(const PartitionRequest& request, DiskRecord& disk, PartitionRecord& partition) {
  const TreeSource tree = request.deepScan     ? TreeSource::kDeepScanResult
                          : request.formatScan ? TreeSource::kFormatRecovery
                                               : TreeSource::kAsItStands;
  return ReadPartitionTree(disk, partition, tree, request.quiet);
}

}  // namespace quorvel::cli

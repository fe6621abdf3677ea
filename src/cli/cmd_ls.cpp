// `quorvel ls SOURCE PARTITION [--format-scan] [--lost-partitions[=precise]]
// [--json] [--quiet]`: expand a partition (FAT16, FAT32, NTFS) and print its
// tree of normal and deleted entries; with --format-scan the folders of a
// formatted volume are rebuilt first; with --lost-partitions the disk is
// scanned for lost partitions first, so PARTITION may be one it finds.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/lost_partition_run.h"
#include "cli/partition_runs.h"
#include "cli/tree_output.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage = "ls SOURCE PARTITION [--format-scan] [--lost-partitions[=precise]] [--json] [--quiet]";

int RunLs(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  for (const auto& option : parsed.options) {
    const std::string& flag = option.first;
    if (flag != "--json" && flag != "--quiet" && flag != "--format-scan" && !IsLostScanFlag(flag)) {
      std::fprintf(stderr, "quorvel: unknown option %s\nusage: quorvel %s\n", flag.c_str(), kUsage);
      return kExitUsage;
    }
  }
  if (parsed.positional.size() != 2) {
    std::fprintf(stderr, "usage: quorvel %s\n", kUsage);
    return kExitUsage;
  }
  LostScanOption lostScan;
  if (!ParseLostScanOption(parsed, lostScan, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  const bool quiet = parsed.Has("--quiet");
  DiskList list;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  const int opened =
      OpenSourcePartitionAfterScan(parsed.positional[0], parsed.positional[1], lostScan, quiet, list, disk, partition);
  if (opened != kExitDone) return opened;
  const int status = parsed.Has("--format-scan")
                         ? RunFormatRecovery(*disk, *partition, quiet)
                         : RunPartitionCommand(PartitionCommand::kExpand, *disk, *partition, quiet);
  // Refused or unreadable: the reason is on stderr and there is no tree.
  if (status == kExitNotFound) return status;
  // Done, or stopped by Ctrl-C: what was found is printed either way.
  PrintPartitionTree(*disk, *partition, parsed.Has("--json"));
  std::fflush(stdout);
  return status;
}

CommandRegistrar reg({"ls", kUsage, &RunLs});

}  // namespace

}  // namespace quorvel::cli

// `quorvel ls SOURCE [PARTITION] [--format-scan | --deep-scan]
// [--lost-partitions[=precise]] [--scan FILE] [--json] [--quiet]`: expand a
// partition (FAT16, FAT32, NTFS) and print its tree of normal and deleted
// entries; with --format-scan the folders of a formatted volume are rebuilt
// first; with --deep-scan the deep scan runs first, so that volumes it finds
// and the files it carves are listed too; with --lost-partitions the disk is
// scanned for lost partitions first, so PARTITION may be one it finds; with
// --scan an earlier scan's result file is loaded first, to the same end.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/lost_partition_run.h"
#include "cli/partition_runs.h"
#include "cli/scan_file_option.h"
#include "cli/tree_output.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage =
    "ls SOURCE... [PARTITION] [--format-scan | --deep-scan] [--lost-partitions[=precise]] [--scan FILE] [--json] "
    "[--quiet]";
constexpr const char* kHelp =
    "arguments:\n"
    "  SOURCE...       an image file, a device path, a disk number or a disk's identity text. Several image\n"
    "                  or device paths may be given together: the disks of a dynamic-disk group are then\n"
    "                  assembled and their volumes can be named (not with --deep-scan or --lost-partitions)\n"
    "  PARTITION       a row's text as `quorvel disks` shows it (a name such as Partition1 or Volume1-01, a\n"
    "                  mount point or drive hint such as E:) or its 0-based index; volumes of a group the\n"
    "                  sources form are looked for first. May be left out only with --deep-scan or --scan\n"
    "\n"
    "options:\n"
    "  --format-scan   format recovery first: the folders of a quick-formatted volume are rebuilt from\n"
    "                  the directory sectors (FAT) or MFT records (NTFS) that survive\n"
    "  --deep-scan     deep scan first (see `quorvel deep-scan --help`): a PARTITION the disk lists is\n"
    "                  scanned on its own; otherwise the whole disk is scanned and PARTITION is looked up\n"
    "                  among the partitions found (Partition<N>, as `quorvel deep-scan SOURCE` names them).\n"
    "                  Without PARTITION only the files carved from the whole disk are listed.\n"
    "  --lost-partitions[=precise]\n"
    "                  scan the disk for lost partitions first (quick, or precise), so that PARTITION may\n"
    "                  name one it finds (see `quorvel lost-partitions --help`)\n"
    "  --scan FILE     load a scan-result file first (written by --save-scan of deep-scan, lost-partitions\n"
    "                  or format-scan, or by the desktop application's \"保存\"): the partitions, carved files\n"
    "                  and traces of that scan come back without scanning again, so PARTITION may be one\n"
    "                  it found. The file must be for SOURCE's disk (its first line names the disk); with\n"
    "                  several sources, for one of their disks or the dynamic-disk group they form. A\n"
    "                  damaged file is used as far as it is whole, and the exit status is then 2. Without\n"
    "                  PARTITION (one SOURCE), the file's carved files of the whole disk are listed\n"
    "  --json          "
    "{\"disk\",\"partition\",\"fs\",\"time_zone\",\"complete\",\"entries\":[{\"path\",\"name\",\"state\",\n"
    "                  \"state_text\",\"size\",\"id\",\"parent_id\",\"created\",\"modified\",\"accessed\",\n"
    "                  \"unreadable\"}]} (times null when an entry has none)\n"
    "  --quiet         no progress bar\n"
    "\n"
    "Carved files that start inside the partition are listed under \"Extra Found Files\" as deleted files\n"
    "(state 2) whose id is their start sector. Ctrl-C stops the reading and prints what was found (exit 3).\n"
    "\n"
    "exit status: 0 done, 1 usage error, 2 source or partition not found or not readable (or the scan file\n"
    "not readable, for another disk or damaged), 3 stopped\n";

int RunLs(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--scan"}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  for (const auto& option : parsed.options) {
    const std::string& flag = option.first;
    if (flag != "--json" && flag != "--quiet" && flag != "--format-scan" && flag != "--deep-scan" && flag != "--scan" &&
        !IsLostScanFlag(flag)) {
      std::fprintf(stderr, "quorvel: unknown option %s\nusage: quorvel %s\n", flag.c_str(), kUsage);
      return kExitUsage;
    }
  }
  const bool deep = parsed.Has("--deep-scan");
  const size_t positional = parsed.positional.size();
  // With --scan alone, one SOURCE without PARTITION lists the file's carved files.
  const bool carvedOfFile = !deep && positional == 1 && parsed.Has("--scan") && !parsed.Has("--format-scan");
  if (positional < 1 || (deep && positional > 2) || (!deep && !carvedOfFile && positional < 2) ||
      (deep && parsed.Has("--format-scan"))) {
    std::fprintf(stderr, "usage: quorvel %s\n", kUsage);
    return kExitUsage;
  }
  LostScanOption lostScan;
  if (!ParseLostScanOption(parsed, lostScan, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  const bool quiet = parsed.Has("--quiet");
  const bool json = parsed.Has("--json");
  DiskList list;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  ScanFileOption scanFile{parsed.Get("--scan")};
  int status;
  if (carvedOfFile) {
    if (lostScan.requested) {
      std::fprintf(stderr, "quorvel: --lost-partitions needs PARTITION\nusage: quorvel %s\n", kUsage);
      return kExitUsage;
    }
    if (OpenSourceWithScanFile(parsed.positional[0], scanFile, list, disk) != kExitDone) return kExitNotFound;
    PrintPartitionTree(*disk, WholeDiskRange(*disk), json);
    std::fflush(stdout);
    return WithScanFileStatus(kExitDone, scanFile);
  }
  if (deep) {
    if (OpenSourceWithScanFile(parsed.positional[0], scanFile, list, disk) != kExitDone) return kExitNotFound;
    status = DeepScanForPartition(*disk, positional == 2 ? parsed.positional[1] : std::string(), quiet, partition);
    if (status == kExitNotFound) return status;
    if (!partition) {
      PrintPartitionTree(*disk, WholeDiskRange(*disk), json, stdout, status != kExitStopped);
      std::fflush(stdout);
      return WithScanFileStatus(status, scanFile);
    }
    if (status == kExitDone) status = RunPartitionCommand(PartitionCommand::kExpand, *disk, *partition, quiet);
  } else {
    const std::vector<std::string> sources(parsed.positional.begin(), parsed.positional.end() - 1);
    const int opened = OpenSourcePartitionAfterScan(sources, parsed.positional.back(), lostScan, quiet, list, disk,
                                                    partition, &scanFile);
    if (opened != kExitDone) return opened;
    status = parsed.Has("--format-scan") ? RunFormatRecovery(*disk, *partition, quiet)
                                         : RunPartitionCommand(PartitionCommand::kExpand, *disk, *partition, quiet);
  }
  // Refused or unreadable: the reason is on stderr and there is no tree.
  if (status == kExitNotFound) return status;
  // Done, or stopped by Ctrl-C: what was found is printed either way.
  PrintPartitionTree(*disk, *partition, json, stdout, status != kExitStopped);
  std::fflush(stdout);
  return WithScanFileStatus(status, scanFile);
}

CommandRegistrar reg({"ls", kUsage, &RunLs, "list a partition's normal and deleted files and folders", kHelp});

}  // namespace

}  // namespace quorvel::cli

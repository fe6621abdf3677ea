// `quorvel ls`: expand a partition (FAT16, FAT32, NTFS) and print its tree of
// normal and deleted entries, as a table, JSON or a TSK body file; the format
// recovery, the deep scan or the lost-partition scan can run first, or an
// earlier scan's result file be loaded.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/bodyfile_output.h"
#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/exit_without_teardown.h"
#include "cli/lost_partition_run.h"
#include "cli/partition_request.h"
#include "cli/scan_file_option.h"
#include "cli/tree_output.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "ls";

// complete: false when a stop cut the reading short (the JSON says so).
void PrintTree(const DiskRecord& disk, const PartitionRecord& partition, const ParsedArgs& parsed, bool complete) {
  if (parsed.Has("--bodyfile"))
    PrintBodyfile(disk, partition);
  else
    PrintPartitionTree(disk, partition, parsed.Has("--json"), stdout, complete);
  std::fflush(stdout);
}

int RunLs(const ParsedArgs& parsed) {
  if (parsed.Has("--json") && parsed.Has("--bodyfile")) return UsageError(kName, "give --json or --bodyfile, not both");
  PartitionRequest request;
  if (int status = ResolvePartitionRequest(kName, parsed, 0, request); status != kExitDone) return status;
  DiskList list;
  KeepUntilExit keep(list);
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  PartitionRecord wholeDisk;
  int status = OpenRequestedPartition(request, list, disk, partition, wholeDisk);
  if (!partition || (status != kExitDone && status != kExitStopped)) return status;
  const bool wholeDiskCarved = partition == &wholeDisk;
  // A deep scan stopped by Ctrl-C still shows what it found; the tree is
  // read only after a finished one.
  if (status == kExitDone && !wholeDiskCarved) status = ReadRequestedTree(request, *disk, *partition);
  // Refused or unreadable: the reason is on stderr and there is no tree.
  if (status == kExitNotFound) return status;
  // Done, or stopped by Ctrl-C: what was found is printed either way.
  PrintTree(*disk, *partition, parsed, status != kExitStopped);
  return WithScanFileStatus(status, request.scanFile);
}

CommandRegistrar reg({
    kName,
    "ls SOURCE... [PARTITION] [--format-scan | --deep-scan] [--lost-partitions[=precise]] [--scan FILE] "
    "[--json | --bodyfile] [--quiet]",
    "list a partition's normal and deleted files and folders",
    {{"SOURCE...",
      "an image file, a device path, a disk number or a disk's identity text. Several image or\n"
      "device paths may be given together: the disks of a dynamic-disk group are then assembled and\n"
      "their volumes can be named (not with --deep-scan or --lost-partitions)"},
     {"PARTITION",
      "a row's text as `quorvel disks` shows it (a name such as Partition1 or Volume1-01, a mount\n"
      "point or drive hint such as E:) or its 0-based index; volumes of a group the sources form are\n"
      "looked for first. May be left out only with --deep-scan, or with --scan and one SOURCE"}},
    {{"--format-scan", nullptr,
      "format recovery first: the folders of a quick-formatted volume are rebuilt from the\n"
      "directory sectors (FAT; each old folder named by its first cluster) or MFT records (NTFS)\n"
      "that survive"},
     {"--deep-scan", nullptr,
      "deep scan first (see `quorvel deep-scan --help`): a PARTITION the disk lists is scanned on\n"
      "its own; otherwise the whole disk is scanned and PARTITION is looked up among the partitions\n"
      "found. FAT folders are rebuilt from the directory sectors the scan recorded. Without\n"
      "PARTITION only the files carved from the whole disk are listed"},
     LostScanOptionSpec("scan the disk for lost partitions first (quick, or precise), so that PARTITION\n"
                        "may name one it finds (see `quorvel lost-partitions --help`)"),
     {"--scan", "FILE",
      "load a scan-result file first (written by --save-scan of deep-scan, lost-partitions or\n"
      "format-scan, or by the desktop application's \"保存\"): the partitions, carved files and traces\n"
      "of that scan come back without scanning again, so PARTITION may be one it found; FAT folders\n"
      "are rebuilt from the directory sectors it recorded. The file must be for SOURCE's disk (its\n"
      "first line names the disk); with several sources, for one of their disks or the dynamic-disk\n"
      "group they form. A damaged file is used as far as it is whole (exit status 2). Without\n"
      "PARTITION (one SOURCE), the file's carved files of the whole disk are listed"},
     {"--json", nullptr,
      "{\"disk\",\"partition\",\"fs\",\"time_zone\",\"complete\",\"entries\":[{\"path\",\"name\",\n"
      "\"state\",\"state_text\",\"size\",\"id\",\"parent_id\",\"created\",\"modified\",\"accessed\",\n"
      "\"unreadable\"}]} (times null when an entry has none)"},
     {"--bodyfile", nullptr,
      "The Sleuth Kit's body format for `mactime -b` (MD5|name|inode|mode_as_string|UID|GID|size|\n"
      "atime|mtime|ctime|crtime, times as Unix seconds in UTC; FAT times, stored without a zone,\n"
      "are written as if they were UTC). Names are paths from \"/\"; deleted entries end in\n"
      "\" (deleted)\"; inode is the number the table shows"},
     {"--quiet", nullptr, "no progress bar"}},
    "A plain listing shows the volume as it stands, even after another command recorded old\n"
    "directory sectors. Carved files that start inside the partition are listed under \"Extra Found\n"
    "Files\" as deleted files (state 2) whose id is their start sector. Ctrl-C stops the reading and\n"
    "prints what was found (exit 3).\n"
    "\n"
    "exit status: 0 done, 1 usage error, 2 source or partition not found or not readable (or the scan file\n"
    "not readable, for another disk or damaged), 3 stopped\n",
    &RunLs,
    1,
});

}  // namespace

}  // namespace quorvel::cli

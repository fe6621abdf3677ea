// `quorvel ls`: expand a partition (FAT16, FAT32, NTFS) and print its tree of
// normal and deleted entries, as a table, JSON or a TSK body file; the format
// recovery, the deep scan or the lost-partition scan can run first.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/bodyfile_output.h"
#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/lost_partition_run.h"
#include "cli/partition_request.h"
#include "cli/tree_output.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "ls";

void PrintTree(const DiskRecord& disk, const PartitionRecord& partition, const ParsedArgs& parsed) {
  if (parsed.Has("--bodyfile"))
    PrintBodyfile(disk, partition);
  else
    PrintPartitionTree(disk, partition, parsed.Has("--json"));
  std::fflush(stdout);
}

int RunLs(const ParsedArgs& parsed) {
  if (parsed.Has("--json") && parsed.Has("--bodyfile")) return UsageError(kName, "give --json or --bodyfile, not both");
  PartitionRequest request;
  if (int status = ResolvePartitionRequest(kName, parsed, 0, request); status != kExitDone) return status;
  DiskList list;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  PartitionRecord wholeDisk;
  int status = OpenRequestedPartition(request, list, disk, partition, wholeDisk);
  if (!partition || (status != kExitDone && status != kExitStopped)) return status;
  // A deep scan stopped by Ctrl-C still shows what it found; the tree is
  // read only after a finished one.
  if (status == kExitDone && partition != &wholeDisk) status = ReadRequestedTree(request, *disk, *partition);
  // Refused or unreadable: the reason is on stderr and there is no tree.
  if (status == kExitNotFound) return status;
  // Done, or stopped by Ctrl-C: what was found is printed either way.
  PrintTree(*disk, *partition, parsed);
  return status;
}

CommandRegistrar reg({
    kName,
    "ls SOURCE... [PARTITION] [--format-scan | --deep-scan] [--lost-partitions[=precise]] "
    "[--json | --bodyfile] [--quiet]",
    "list a partition's normal and deleted files and folders",
    {{"SOURCE...",
      "an image file, a device path, a disk number or a disk's identity text. Several image or\n"
      "device paths may be given together: the disks of a dynamic-disk group are then assembled and\n"
      "their volumes can be named (not with --deep-scan or --lost-partitions)"},
     {"PARTITION",
      "a row's text as `quorvel disks` shows it (a name such as Partition1 or Volume1-01, a mount\n"
      "point or drive hint such as E:) or its 0-based index; volumes of a group the sources form are\n"
      "looked for first. May be left out only with --deep-scan"}},
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
     {"--json", nullptr,
      "{\"disk\",\"partition\",\"fs\",\"entries\":[{\"path\",\"name\",\"state\",\"state_text\",\n"
      "\"size\",\"id\",\"parent_id\",\"created\",\"modified\",\"accessed\"}]}"},
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
    "exit status: 0 done, 1 usage error, 2 source or partition not found or not readable, 3 stopped\n",
    &RunLs,
    1,
});

}  // namespace

}  // namespace quorvel::cli

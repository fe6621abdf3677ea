// `quorvel ls SOURCE PARTITION [--format-scan] [--json] [--quiet]`: expand a
// partition (FAT16, FAT32, NTFS) and print its tree of normal and deleted
// entries; with --format-scan the folders of a formatted volume are rebuilt
// first.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/partition_runs.h"
#include "cli/tree_output.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage = "ls SOURCE... PARTITION [--format-scan] [--json] [--quiet]";

int RunLs(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  for (const auto& option : parsed.options) {
    const std::string& flag = option.first;
    if (flag != "--json" && flag != "--quiet" && flag != "--format-scan") {
      std::fprintf(stderr, "quorvel: unknown option %s\nusage: quorvel %s\n", flag.c_str(), kUsage);
      return kExitUsage;
    }
  }
  if (parsed.positional.size() < 2) {
    std::fprintf(stderr, "usage: quorvel %s\n", kUsage);
    return kExitUsage;
  }
  DiskList list;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  if (OpenSourcesPartition(std::vector<std::string>(parsed.positional.begin(), parsed.positional.end() - 1),
                           parsed.positional.back(), list, disk, partition) != kExitDone)
    return kExitNotFound;
  const bool quiet = parsed.Has("--quiet");
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

constexpr const char* kSummary =
    "List the normal and deleted files and folders of a FAT16, FAT32 or NTFS partition or volume.";
constexpr const char* kHelp =
    "SOURCE...   an image file, a device path, a disk number or a disk's identity text.\n"
    "            Several image or device paths may be given together: the disks of a\n"
    "            dynamic-disk group are then assembled and their volumes can be named.\n"
    "PARTITION   a row's text as `quorvel disks` shows it (a name such as Partition1 or\n"
    "            Volume1-01, a mount point or drive hint such as E:), or its 0-based index.\n"
    "            Volumes of a group formed by the sources are looked for first.\n"
    "--format-scan  rebuild the folders of a formatted volume first\n"
    "--json      print the entries as JSON\n"
    "--quiet     no progress bar\n";

CommandRegistrar reg({"ls", kUsage, &RunLs, kSummary, kHelp});

}  // namespace

}  // namespace quorvel::cli

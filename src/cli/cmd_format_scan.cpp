// `quorvel format-scan SOURCE... PARTITION [--json] [--scan FILE]
// [--save-scan FILE] [--allow-same-disk] [--quiet]`: the format-recovery
// sweep on its own. FAT: which sectors still hold directory data (the rebuilt
// folders are shown by `ls --format-scan`); NTFS: the tree of the surviving
// MFT records.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/json_writer.h"
#include "cli/partition_runs.h"
#include "cli/scan_file_option.h"
#include "cli/tree_output.h"
#include "model/partition_texts.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage =
    "format-scan SOURCE... PARTITION [--json] [--scan FILE] [--save-scan FILE] [--allow-same-disk] [--quiet]";

void PrintDirectorySectors(const DiskRecord& disk, const PartitionRecord& partition, bool json, bool complete) {
  const uint64_t first = partition.startSector;
  const uint64_t last = partition.startSector + partition.sectorCount;
  auto begin = disk.directorySectors.lower_bound(first);
  auto end = disk.directorySectors.upper_bound(last);
  const size_t count = static_cast<size_t>(std::distance(begin, end));
  if (!json) {
    std::printf("%s  %s  扇区 %llu - %llu\n", partition.name.c_str(), PartitionTypeText(partition).c_str(),
                static_cast<unsigned long long>(first), static_cast<unsigned long long>(last - 1));
    std::printf("目录扇区: %zu\n", count);
    return;
  }
  JsonWriter out;
  out.BeginObject();
  out.Field("disk", disk.Identity()).Field("partition", partition.name).Field("fs", PartitionTypeText(partition));
  out.Key("complete").Bool(complete);
  out.Field("start_sector", first).Field("sector_count", partition.sectorCount);
  out.Field("directory_sector_count", static_cast<uint64_t>(count));
  out.Key("directory_sectors").BeginArray();
  for (auto it = begin; it != end; ++it) out.Number(*it);
  out.EndArray().EndObject();
  std::printf("%s\n", out.text().c_str());
}

int RunFormatScan(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--scan", "--save-scan"}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  for (const auto& [flag, value] : parsed.options) {
    if (flag != "--json" && flag != "--quiet" && flag != "--scan" && flag != "--save-scan" &&
        flag != "--allow-same-disk") {
      std::fprintf(stderr, "quorvel: unknown option %s\nusage: quorvel %s\n", flag.c_str(), kUsage);
      return kExitUsage;
    }
  }
  if (parsed.positional.size() < 2) {
    std::fprintf(stderr, "usage: quorvel %s\n", kUsage);
    return kExitUsage;
  }
  const bool json = parsed.Has("--json");
  DiskList list;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  const std::vector<std::string> sources(parsed.positional.begin(), parsed.positional.end() - 1);
  ScanFileOption scanFile{parsed.Get("--scan")};
  if (scanFile.given() ? OpenSourcesPartitionWithScanFile(sources, parsed.positional.back(), scanFile, list, disk,
                                                          partition) != kExitDone
                       : OpenSourcesPartition(sources, parsed.positional.back(), list, disk, partition) != kExitDone)
    return kExitNotFound;
  const std::string saveScan = parsed.Get("--save-scan");
  if (parsed.Has("--save-scan") && CheckSaveScanTarget(saveScan, *disk, parsed.Has("--allow-same-disk")) != kExitDone)
    return kExitUsage;

  PartitionRunResult result;
  int status = RunPartitionCommand(PartitionCommand::kFormatInfo, *disk, *partition, parsed.Has("--quiet"), &result);
  if (status == kExitNotFound) return status;
  if (result.mode == kExpandNtfs) {
    PrintPartitionTree(*disk, *partition, json, stdout, status != kExitStopped);
  } else {
    PrintDirectorySectors(*disk, *partition, json, status != kExitStopped);
  }
  std::fflush(stdout);
  if (parsed.Has("--save-scan") && SaveScanFile(saveScan, *disk) != kExitDone) return kExitNotFound;
  return WithScanFileStatus(status, scanFile);
}

constexpr const char* kSummary =
    "Rebuild the folder tree of a formatted FAT or NTFS partition or volume from the traces on the disk.";
constexpr const char* kHelp =
    "SOURCE...   one source, or several image or device paths whose dynamic-disk group\n"
    "            holds the volume.\n"
    "PARTITION   a row's text, a volume of the group, or a 0-based index.\n"
    "--json      print the entries as JSON\n"
    "--scan FILE load a scan-result file first (as `ls --scan`), so PARTITION may be one an\n"
    "            earlier scan found\n"
    "--save-scan FILE\n"
    "            after the scan (also after Ctrl-C), write the disk's scan results, the FAT\n"
    "            directory sectors this scan recorded included, to a scan-result file that\n"
    "            `ls --scan FILE` and `save --scan FILE` read later without scanning again\n"
    "            (FILE's folder is checked before the scan)\n"
    "--allow-same-disk\n"
    "            write FILE onto the source disk anyway (the source itself is always refused)\n"
    "--quiet     no progress bar\n"
    "\n"
    "exit status: 0 done, 1 usage error (an unwritable --save-scan FILE included), 2 source or\n"
    "partition not found or not readable, or a scan file not readable, for another disk, damaged\n"
    "or not written, 3 stopped\n";

CommandRegistrar reg({"format-scan", kUsage, &RunFormatScan, kSummary, kHelp});

}  // namespace

}  // namespace quorvel::cli

// `quorvel format-scan`: the format-recovery sweep on its own. FAT: which
// sectors still hold directory data (the rebuilt folders are shown by
// `ls --format-scan`); NTFS: the tree of the surviving MFT records.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/exit_without_teardown.h"
#include "cli/json_writer.h"
#include "cli/partition_runs.h"
#include "cli/scan_file_option.h"
#include "cli/tree_output.h"
#include "model/partition_texts.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "format-scan";

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

int RunFormatScan(const ParsedArgs& parsed) {
  const bool json = parsed.Has("--json");
  DiskList list;
  KeepUntilExit keep(list);
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  const std::vector<std::string> sources(parsed.positional.begin(), parsed.positional.end() - 1);
  ScanFileOption scanFile{parsed.Get("--scan")};
  if (int status = scanFile.given() ? OpenSourcesPartitionWithScanFile(sources, parsed.positional.back(), scanFile,
                                                                       list, disk, partition)
                                    : OpenSourcesPartition(sources, parsed.positional.back(), list, disk, partition);
      status != kExitDone)
    return status;
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

CommandRegistrar reg({
    kName,
    "format-scan SOURCE... PARTITION [--json] [--scan FILE] [--save-scan FILE] [--allow-same-disk] [--quiet]",
    "sweep a formatted FAT or NTFS partition for what survives of its old folders",
    {{"SOURCE...", "one source, or several image or device paths whose dynamic-disk group holds the volume"},
     {"PARTITION", "a row's text, a volume of the group, or a 0-based index"}},
    {{"--json", nullptr,
      "FAT: {\"disk\",\"partition\",\"fs\",\"complete\",\"start_sector\",\"sector_count\",\n"
      "\"directory_sector_count\",\"directory_sectors\":[...]}; NTFS: the entries as `ls --json`"},
     {"--scan", "FILE",
      "load a scan-result file first (as `ls --scan`), so PARTITION may be one an earlier\nscan found"},
     {"--save-scan", "FILE",
      "after the scan (also after Ctrl-C), write the disk's scan results, the FAT directory sectors\n"
      "this scan recorded included, to a scan-result file that `ls --scan FILE` and `save --scan FILE`\n"
      "read later without scanning again (FILE's folder is checked before the scan)"},
     {"--allow-same-disk", nullptr, "write FILE onto the source disk anyway (the source itself is always refused)"},
     {"--quiet", nullptr, "no progress bar"}},
    "FAT: reads every sector of the partition and prints how many hold directory data (the first\n"
    "sector of a folder, or a sector of directory entries); `quorvel ls --format-scan` shows the\n"
    "folders rebuilt from them. NTFS: sweeps the MFT and prints the tree of the records found, as\n"
    "`quorvel ls` does.\n"
    "\n"
    "exit status: 0 done, 1 usage error (an unwritable --save-scan FILE included), 2 source or partition\n"
    "not found or not readable, or a scan file not readable, for another disk, damaged or not written,\n"
    "3 stopped\n",
    &RunFormatScan,
    2,
});

}  // namespace

}  // namespace quorvel::cli

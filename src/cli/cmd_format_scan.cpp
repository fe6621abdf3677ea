// `quorvel format-scan SOURCE PARTITION [--json] [--quiet]`: the format-recovery
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
#include "cli/tree_output.h"
#include "model/partition_texts.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage = "format-scan SOURCE... PARTITION [--json] [--quiet]";

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
  if (!ParseArgs(args, {}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  for (const auto& [flag, value] : parsed.options) {
    if (flag != "--json" && flag != "--quiet") {
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
  if (OpenSourcesPartition(std::vector<std::string>(parsed.positional.begin(), parsed.positional.end() - 1),
                           parsed.positional.back(), list, disk, partition) != kExitDone)
    return kExitNotFound;

  PartitionRunResult result;
  int status = RunPartitionCommand(PartitionCommand::kFormatInfo, *disk, *partition, parsed.Has("--quiet"), &result);
  if (status == kExitNotFound) return status;
  if (result.mode == kExpandNtfs) {
    PrintPartitionTree(*disk, *partition, json, stdout, status != kExitStopped);
  } else {
    PrintDirectorySectors(*disk, *partition, json, status != kExitStopped);
  }
  std::fflush(stdout);
  return status;
}

constexpr const char* kSummary =
    "Rebuild the folder tree of a formatted FAT or NTFS partition or volume from the traces on the disk.";
constexpr const char* kHelp =
    "SOURCE...   one source, or several image or device paths whose dynamic-disk group\n"
    "            holds the volume.\n"
    "PARTITION   a row's text, a volume of the group, or a 0-based index.\n"
    "--json      print the entries as JSON\n"
    "--quiet     no progress bar\n";

CommandRegistrar reg({"format-scan", kUsage, &RunFormatScan, kSummary, kHelp});

}  // namespace

}  // namespace quorvel::cli

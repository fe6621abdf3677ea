// `quorvel lost-partitions SOURCE [--precise] [--tracks N] [--json]
//  [--save-scan FILE] [--quiet]`: the disk page's "扫描丢失分区" on the command
// line. Finds the NTFS, FAT32 and FAT16 volumes the partition tables no
// longer list and prints the disk's partitions afterwards.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "cli/lost_partition_run.h"
#include "cli/terminal_text.h"
#include "model/partition_texts.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage = "lost-partitions SOURCE [--precise] [--tracks N] [--json] [--save-scan FILE] [--quiet]";
constexpr const char* kHelp =
    "Each volume found becomes a partition that `ls` and `save` open by its name (Partition%d, after\n"
    "the partitions the disk lists), shown in green on the disk page. Nothing is written to the source.\n"
    "\n"
    "The scan first follows chains of volumes: forward from the disk's start behind each NTFS volume,\n"
    "backward from the disk's end through NTFS backup boot sectors (a volume whose first sector was\n"
    "overwritten is found this way), and from the MFT at its default place. Then it runs one pass:\n"
    "\n"
    "  (quick, the default)  two 4 KiB reads per cylinder: each cylinder's first sector and the sector\n"
    "                        63 sectors into it (a logical partition behind its extended boot record),\n"
    "                        plus sectors 63 and 2048 of cylinder 0. A FAT32 volume whose boot sector\n"
    "                        is damaged is found through its backup copy six sectors on.\n"
    "  --precise             reads every sector of the disk in 10 MiB blocks and finds volumes wherever\n"
    "                        they start (slow: as long as reading the whole disk).\n"
    "\n"
    "Options:\n"
    "  --tracks N        tracks (heads) per cylinder for the quick pass, 1..255, when the disk was\n"
    "                    partitioned with another geometry than the disk reports (images: 255 x 63)\n"
    "  --json            print the `disks --json` document of the disk after the scan, with\n"
    "                    \"complete\" (false when the scan was stopped) first\n"
    "  --save-scan FILE  keep the result in a scan-result file (not available yet)\n"
    "  --quiet           no progress bar\n"
    "\n"
    "Output: the disk's partitions after the scan with where each comes from (分区表: a partition\n"
    "table, 找到: found by a scan), rows added by this run marked with '*', then the description\n"
    "line of each volume found. The progress bar shows \"已经找到N个分区,继续扫描,稍等...\".\n"
    "\n"
    "Exit status: 0 done; 1 usage error; 2 source not found or not readable; 3 stopped by Ctrl-C\n"
    "(the partitions found until then are printed).\n"
    "\n"
    "To list or save from a found partition in one command, give `ls` or `save` the option\n"
    "--lost-partitions (or --lost-partitions=precise), e.g.\n"
    "  quorvel ls disk.img Partition0 --lost-partitions\n";

std::string TrimmedLabel(std::string label) {
  while (!label.empty() && label.back() == ' ') label.pop_back();
  return label;
}

void PrintText(const DiskRecord& disk, const LostScanReport& report) {
  std::set<std::string> added;
  for (const LostScanReport::Found& f : report.found) added.insert(f.name);
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"磁盘", "标签", "文件类型", "起始扇区", "扇区数", "大小", "来源"});
  rows.push_back({disk.Identity(), "", "", "0", std::to_string(disk.sizeBytes / 512), SizeText(disk.sizeBytes), ""});
  std::vector<std::string> texts = PartitionRowTexts(disk);
  size_t i = 0;
  for (const PartitionRecord& p : disk.partitions) {
    rows.push_back({(added.count(p.name) ? "* " : "  ") + texts[i++], TrimmedLabel(p.volumeLabel), PartitionTypeText(p),
                    std::to_string(p.startSector), std::to_string(p.sectorCount), SizeText(p.sectorCount * 512),
                    OriginText(p.originCode)});
  }
  PrintAlignedRows(rows, 3);
  std::printf("\n%zu partition(s) found by this scan\n", report.found.size());
  for (const LostScanReport::Found& f : report.found)
    std::printf("  %s  %s\n", TerminalSafe(f.name).c_str(), TerminalSafe(f.description).c_str());
}

bool ParseTracks(const std::string& text, uint32_t& tracks) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long value = std::stoul(text);
  if (value < 1 || value > 255) return false;
  tracks = static_cast<uint32_t>(value);
  return true;
}

int RunLostPartitions(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--tracks", "--save-scan"}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  for (const auto& [flag, value] : parsed.options) {
    if (flag != "--precise" && flag != "--tracks" && flag != "--json" && flag != "--save-scan" && flag != "--quiet") {
      std::fprintf(stderr, "quorvel: unknown option %s\nusage: quorvel %s\n", flag.c_str(), kUsage);
      return kExitUsage;
    }
  }
  if (parsed.positional.size() != 1) {
    std::fprintf(stderr, "usage: quorvel %s\n", kUsage);
    return kExitUsage;
  }
  uint32_t tracks = 0;
  if (parsed.Has("--tracks") && !ParseTracks(parsed.Get("--tracks"), tracks)) {
    std::fprintf(stderr, "quorvel: --tracks takes a number of tracks per cylinder from 1 to 255\n");
    return kExitUsage;
  }
  // Refused before the scan, so that no long scan runs for a result that
  // could not be kept.
  if (parsed.Has("--save-scan")) {
    std::fprintf(stderr, "quorvel: --save-scan: scan-result files cannot be written yet; run the scan without it\n");
    return kExitUsage;
  }
  DiskList list;
  DiskRecord* disk = nullptr;
  if (OpenSource(parsed.positional[0], list, disk) != kExitDone) return kExitNotFound;
  const LostScanMode mode = parsed.Has("--precise") ? kPreciseLostScan : kQuickLostScan;
  LostScanReport report;
  const int status = RunLostPartitionScan(*disk, mode, tracks, parsed.Has("--quiet"), &report);
  if (status == kExitNotFound) return status;
  if (parsed.Has("--json"))
    std::printf("%s\n", DisksJson({disk}, status != kExitStopped).c_str());
  else
    PrintText(*disk, report);
  std::fflush(stdout);
  return status;
}

CommandRegistrar reg({"lost-partitions", kUsage, &RunLostPartitions,
                      "Find NTFS, FAT32 and FAT16 volumes that the partition tables no longer list.", kHelp});

}  // namespace

}  // namespace quorvel::cli

// `quorvel lost-partitions`: the disk page's "扫描丢失分区" on the command line. Finds the NTFS, FAT32 and FAT16
// volumes the partition tables no longer list and prints the disk's partitions afterwards; the result can be
// kept in a scan-result file.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "cli/lost_partition_run.h"
#include "cli/number_argument.h"
#include "cli/scan_file_option.h"
#include "cli/terminal_text.h"
#include "model/partition_texts.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "lost-partitions";

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
  uint64_t value = 0;
  if (!ParseNumberArgument(text, value, 255) || value < 1) return false;
  tracks = static_cast<uint32_t>(value);
  return true;
}

int RunLostPartitions(const ParsedArgs& parsed) {
  uint32_t tracks = 0;
  if (parsed.Has("--tracks") && !ParseTracks(parsed.Get("--tracks"), tracks)) {
    return UsageError(kName, "--tracks takes a number of tracks per cylinder from 1 to 255");
  }
  DiskList list;
  DiskRecord* disk = nullptr;
  ScanFileOption scanFile{parsed.Get("--scan")};
  if (OpenSourceWithScanFile(parsed.positional[0], scanFile, list, disk) != kExitDone) return kExitNotFound;
  // Refused before the scan, so that no long scan runs for a result that
  // could not be kept.
  const std::string saveScan = parsed.Get("--save-scan");
  if (parsed.Has("--save-scan") && CheckSaveScanTarget(saveScan, *disk, parsed.Has("--allow-same-disk")) != kExitDone)
    return kExitUsage;
  const LostScanMode mode = parsed.Has("--precise") ? kPreciseLostScan : kQuickLostScan;
  LostScanReport report;
  const int status = RunLostPartitionScan(*disk, mode, tracks, parsed.Has("--quiet"), &report);
  if (status == kExitNotFound) return status;
  if (parsed.Has("--json"))
    std::printf("%s\n", DisksJson({disk}, status != kExitStopped).c_str());
  else
    PrintText(*disk, report);
  std::fflush(stdout);
  if (parsed.Has("--save-scan") && SaveScanFile(saveScan, *disk) != kExitDone) return kExitNotFound;
  return WithScanFileStatus(status, scanFile);
}

CommandRegistrar reg({
    kName,
    "lost-partitions SOURCE [--precise] [--tracks N] [--json] [--scan FILE] [--save-scan FILE] [--allow-same-disk] "
    "[--quiet]",
    "find NTFS, FAT32 and FAT16 volumes that the partition tables no longer list",
    {{"SOURCE", "an image file, a device path, a disk number or a disk's identity text"}},
    {{"--precise", nullptr,
      "read every sector of the disk in 10 MiB blocks and find volumes wherever they start (slow:\n"
      "as long as reading the whole disk). Without it the quick pass reads two 4 KiB pieces per\n"
      "cylinder: each cylinder's first sector and the sector 63 sectors into it (a logical\n"
      "partition behind its extended boot record), plus sectors 63 and 2048 of cylinder 0; a FAT32\n"
      "volume whose boot sector is damaged is found through its backup copy six sectors on"},
     {"--tracks", "N",
      "tracks (heads) per cylinder for the quick pass, 1..255, when the disk was partitioned with\n"
      "another geometry than the disk reports (images: 255 x 63)"},
     {"--json", nullptr, "print the `disks --json` document of the disk after the scan, \"complete\" first"},
     {"--scan", "FILE",
      "load a scan-result file of an earlier scan of this disk first; partitions it holds are not\n"
      "found again"},
     {"--save-scan", "FILE",
      "after the scan (also after Ctrl-C), keep the disk's partitions in a scan-result file (.rvz_scn)\n"
      "that `ls`, `save`, `hex` and `disks` load with --scan FILE, so a found partition is read later\n"
      "without scanning again. FILE's folder is checked before the scan; FILE itself is replaced only\n"
      "once it is written whole"},
     {"--allow-same-disk", nullptr,
      "write FILE onto the source disk anyway (the source image or device itself is always refused)"},
     {"--quiet", nullptr, "no progress bar"}},
    "Each volume found becomes a partition that `ls` and `save` open by its name (Partition<N>,\n"
    "after the partitions the disk lists), shown in green on the disk page. Before the pass, the scan\n"
    "follows chains of volumes: forward from the disk's start behind each NTFS volume, backward from\n"
    "the disk's end through NTFS backup boot sectors (a volume whose first sector was overwritten is\n"
    "found this way), and from the MFT at its default place. Nothing is written to the source.\n"
    "\n"
    "output: the disk's partitions after the scan with where each comes from (分区表: a partition\n"
    "table, 找到: found by a scan), rows added by this run marked with '*', then the description line\n"
    "of each volume found. The progress bar shows \"已经找到N个分区,继续扫描,稍等...\". To list or save\n"
    "from a found partition in one command, give `ls` or `save` the option --lost-partitions (or\n"
    "--lost-partitions=precise), e.g. quorvel ls disk.img Partition0 --lost-partitions\n"
    "\n"
    "exit status: 0 done, 1 usage error (a --save-scan FILE that cannot be written included), 2 source\n"
    "not found or not readable, or a scan file not readable, for another disk, damaged or not written,\n"
    "3 stopped by Ctrl-C (the partitions found until then are printed)\n",
    &RunLostPartitions,
    1,
    1,
});

}  // namespace

}  // namespace quorvel::cli

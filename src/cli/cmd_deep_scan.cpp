// `quorvel deep-scan SOURCE [PARTITION] [--json] [--scan FILE] [--save-scan FILE]
// [--allow-same-disk] [--quiet]`: the deep scan over a whole disk or one
// partition, then the disk's partitions (those found included), the carved
// files and the traces kept for the readers; the result can be kept in a
// scan-result file.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "cli/json_writer.h"
#include "cli/partition_runs.h"
#include "cli/scan_file_option.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage =
    "deep-scan SOURCE [PARTITION] [--json] [--scan FILE] [--save-scan FILE] [--allow-same-disk] [--quiet]";
constexpr const char* kHelp =
    "Reads every sector of a disk (or of one partition) and finds what no partition table or directory lists\n"
    "any more: FAT32, FAT16 and NTFS volumes by their boot sectors and other traces, and files by their\n"
    "content signatures (PDF, MPEG, AVI, MP4, ZIP/DOCX/XLSX/PPTX, RAR, DOC/XLS/PPT, JPEG, MP3).\n"
    "\n"
    "arguments:\n"
    "  SOURCE            an image file, a device path (/dev/sdb), a disk number or a disk's identity text\n"
    "                    (as `quorvel disks` lists them); the source is only read, never written\n"
    "  PARTITION         scan this partition only (its row text, its name such as Partition1, its mount\n"
    "                    point, or its 0-based index); without it the whole disk is scanned\n"
    "\n"
    "options:\n"
    "  --json            print the result as JSON instead of tables:\n"
    "                    {\"complete\",\"disks\":[{...the disk as `disks --json` prints it, found\n"
    "                    partitions included...,\n"
    "                    \"carved\":[{\"start_sector\",\"size\",\"name\"}],\n"
    "                    \"mft_fragments\":[{\"start_sector\",\"sector_count\"}], \"directory_sectors\":N}]}\n"
    "  --scan FILE       load a scan-result file of an earlier scan first (see `quorvel scan-file --help`):\n"
    "                    PARTITION may then be one that scan found, and what this scan finds is added to\n"
    "                    what the file holds\n"
    "  --save-scan FILE  after the scan (also after Ctrl-C), write the disk's partitions, carved files and\n"
    "                    traces to FILE (extension .rvz_scn by custom), so that `ls`, `save`, `hex` and\n"
    "                    `disks` can use them later with --scan FILE without scanning again. FILE's folder\n"
    "                    is checked before the scan starts; FILE itself is replaced only once it is\n"
    "                    written whole\n"
    "  --allow-same-disk write FILE onto the source disk anyway (it may overwrite what is being recovered;\n"
    "                    the source image or device itself is always refused)\n"
    "  --quiet           no progress bar\n"
    "  -h, --help        this text\n"
    "\n"
    "output:\n"
    "  The disk's partitions after the scan; the column 来源 tells how each was found: 分区表 (listed by the\n"
    "  partition table), 引导扇区 (found by its boot sector, shown green in the desktop application) or 重建\n"
    "  (rebuilt from FAT copies, folder starts or MFT records, shown red). Found partitions are named\n"
    "  Partition<N> and can be listed and saved in the same command with `quorvel ls SOURCE PARTITION\n"
    "  --deep-scan` and `quorvel save ... --deep-scan`, or in later commands from a --save-scan file. Then\n"
    "  the carved files (\"Extra Found Files\": start sector, size in bytes, name), and how many stretches of\n"
    "  MFT records and FAT directory sectors were recorded for the readers.\n"
    "\n"
    "A progress bar runs on stderr when it is a terminal. Ctrl-C stops the scan: what was found so far is\n"
    "still finished and printed (exit status 3); a second Ctrl-C ends at once.\n"
    "\n"
    "exit status: 0 done, 1 usage error (a --save-scan FILE that cannot be written included), 2 source or\n"
    "partition not found or not readable, a scan file that cannot be read or written, or a damaged scan\n"
    "file (what was whole in it is used), 3 stopped\n";

void PrintText(const DiskRecord& disk, const DeepScanOutcome& outcome) {
  PrintDiskTable({&disk}, true);
  std::printf("\nExtra Found Files: %zu\n", disk.carvedFiles.size());
  // The headings are wide characters: two columns each.
  if (!disk.carvedFiles.empty()) std::printf("      起始扇区          大小  名称\n");
  for (const auto& [sector, file] : disk.carvedFiles)
    std::printf("%14llu  %12llu  %s\n", static_cast<unsigned long long>(sector),
                static_cast<unsigned long long>(file.size), file.name.c_str());
  std::printf("\nMFT 片段: %zu\n目录扇区: %zu\n", disk.mftFragments.size(), disk.directorySectors.size());
  std::printf("本次扫描: 扇区 %llu - %llu, 新增 %zu 个分区, %zu 个文件\n",
              static_cast<unsigned long long>(outcome.startSector),
              static_cast<unsigned long long>(outcome.startSector + outcome.sectorCount),
              outcome.partitionsAdded.size(), outcome.carvedFilesAdded);
}

void PrintJson(const DiskRecord& disk, bool complete) {
  JsonWriter json;
  json.BeginObject().Key("complete").Bool(complete).Key("disks").BeginArray();
  WriteDiskJson(json, disk, [&](JsonWriter& out) { WriteScanCollectionsJson(out, disk); });
  json.EndArray().EndObject();
  std::printf("%s\n", json.text().c_str());
}

int RunDeepScan(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--save-scan", "--scan"}, parsed, error)) {
    std::fprintf(stderr, "quorvel: %s\nusage: quorvel %s\n", error.c_str(), kUsage);
    return kExitUsage;
  }
  for (const auto& [flag, value] : parsed.options) {
    if (flag != "--json" && flag != "--quiet" && flag != "--save-scan" && flag != "--scan" &&
        flag != "--allow-same-disk") {
      std::fprintf(stderr, "quorvel: unknown option %s\nusage: quorvel %s\n", flag.c_str(), kUsage);
      return kExitUsage;
    }
  }
  if (parsed.positional.empty() || parsed.positional.size() > 2) {
    std::fprintf(stderr, "usage: quorvel %s\n", kUsage);
    return kExitUsage;
  }
  DiskList list;
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  ScanFileOption scanFile{parsed.Get("--scan")};
  const std::string partitionText = parsed.positional.size() == 2 ? parsed.positional[1] : std::string();
  if (scanFile.given()) {
    if (OpenSourcesPartitionWithScanFile({parsed.positional[0]}, partitionText, scanFile, list, disk, partition) !=
        kExitDone)
      return kExitNotFound;
  } else if (!partitionText.empty()) {
    if (OpenSourcePartition(parsed.positional[0], partitionText, list, disk, partition) != kExitDone)
      return kExitNotFound;
  } else if (OpenSource(parsed.positional[0], list, disk) != kExitDone) {
    return kExitNotFound;
  }
  const std::string saveScan = parsed.Get("--save-scan");
  if (parsed.Has("--save-scan") && CheckSaveScanTarget(saveScan, *disk, parsed.Has("--allow-same-disk")) != kExitDone)
    return kExitUsage;
  DeepScanOutcome outcome;
  const int status = RunDeepScanCommand(*disk, partition, parsed.Has("--quiet"), &outcome);
  if (status == kExitNotFound) return status;
  if (parsed.Has("--json"))
    PrintJson(*disk, status != kExitStopped);
  else
    PrintText(*disk, outcome);
  std::fflush(stdout);
  // What a stopped scan found is kept too: it can be scanned on later.
  if (parsed.Has("--save-scan") && SaveScanFile(saveScan, *disk) != kExitDone) return kExitNotFound;
  return WithScanFileStatus(status, scanFile);
}

CommandRegistrar reg({"deep-scan", kUsage, &RunDeepScan,
                      "find lost FAT/NTFS volumes and carve files by their signatures", kHelp});

}  // namespace

}  // namespace quorvel::cli

// `quorvel deep-scan`: the deep scan over a whole disk or one partition, then
// the disk's partitions (those found included), the carved files and the
// traces kept for the readers; the result can be kept in a scan-result file.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "cli/exit_without_teardown.h"
#include "cli/json_writer.h"
#include "cli/partition_runs.h"
#include "cli/scan_file_option.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "deep-scan";

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

int RunDeepScan(const ParsedArgs& parsed) {
  DiskList list;
  KeepUntilExit keep(list);
  DiskRecord* disk = nullptr;
  PartitionRecord* partition = nullptr;
  ScanFileOption scanFile{parsed.Get("--scan")};
  const std::string partitionText = parsed.positional.size() == 2 ? parsed.positional[1] : std::string();
  if (scanFile.given()) {
    if (OpenSourcesPartitionWithScanFile({parsed.positional[0]}, partitionText, scanFile, list, disk, partition) !=
        kExitDone)
      return kExitNotFound;
  } else if (!partitionText.empty()) {
    if (int status = OpenSourcePartition(parsed.positional[0], partitionText, list, disk, partition);
        status != kExitDone)
      return status;
  } else if (OpenSource(parsed.positional[0], list, disk) != kExitDone) {
    return kExitNotFound;
  }
  // Refused before the scan rather than after an hour of reading.
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

CommandRegistrar reg({
    kName,
    "deep-scan SOURCE [PARTITION] [--json] [--scan FILE] [--save-scan FILE] [--allow-same-disk] [--quiet]",
    "find lost FAT/NTFS volumes and carve files by their signatures",
    {{"SOURCE",
      "an image file, a device path (/dev/sdb), a disk number or a disk's identity text (as\n"
      "`quorvel disks` lists them); the source is only read, never written"},
     {"PARTITION",
      "scan this partition only (its row text, its name such as Partition1, its mount point, or its\n"
      "0-based index); without it the whole disk is scanned"}},
    {{"--json", nullptr,
      "print the result as JSON instead of tables: {\"complete\",\"disks\":[{...the disk as `disks\n"
      "--json` prints it, found partitions included..., \"carved\":[{\"start_sector\",\"size\",\"name\"}],\n"
      "\"mft_fragments\":[{\"start_sector\",\"sector_count\"}], \"directory_sectors\":N}]}"},
     {"--scan", "FILE",
      "load a scan-result file of an earlier scan first (see `quorvel scan-file --help`): PARTITION\n"
      "may then be one that scan found, and what this scan finds is added to what the file holds"},
     {"--save-scan", "FILE",
      "after the scan (also after Ctrl-C), write the disk's partitions, carved files and traces to\n"
      "FILE (extension .rvz_scn by custom), so that `ls`, `save`, `hex` and `disks` can use them later\n"
      "with --scan FILE without scanning again. FILE's folder is checked before the scan starts; FILE\n"
      "itself is replaced only once it is written whole"},
     {"--allow-same-disk", nullptr,
      "write FILE onto the source disk anyway (it may overwrite what is being recovered; the source\n"
      "image or device itself is always refused)"},
     {"--quiet", nullptr, "no progress bar"}},
    "Reads every sector of a disk (or of one partition) and finds what no partition table or\n"
    "directory lists any more: FAT32, FAT16 and NTFS volumes by their boot sectors and other traces,\n"
    "and files by their content signatures (PDF, MPEG, AVI, MP4, ZIP/DOCX/XLSX/PPTX, RAR,\n"
    "DOC/XLS/PPT, JPEG, MP3).\n"
    "\n"
    "output: the disk's partitions after the scan; the column 来源 tells how each was found: 分区表\n"
    "(listed by the partition table), 引导扇区 (found by its boot sector, shown green in the desktop\n"
    "application) or 重建 (rebuilt from FAT copies, folder starts or MFT records, shown red). Found\n"
    "partitions are named Partition<N> and can be listed and saved in the same command with\n"
    "`quorvel ls SOURCE PARTITION --deep-scan` and `quorvel save ... --deep-scan`, or in later\n"
    "commands from a --save-scan file. Then the carved\n"
    "files (\"Extra Found Files\": start sector, size in bytes, name), and how many stretches of MFT\n"
    "records and FAT directory sectors were recorded for the readers.\n"
    "\n"
    "A progress bar with the throughput and the time left runs on stderr when it is a terminal.\n"
    "Ctrl-C stops the scan: what was found so far is still finished and printed (exit status 3); a\n"
    "second Ctrl-C ends at once.\n"
    "\n"
    "exit status: 0 done, 1 usage error (a --save-scan FILE that cannot be written included), 2 source\n"
    "or partition not found or not readable, a scan file that cannot be read or written, or a damaged\n"
    "scan file (what was whole in it is used), 3 stopped\n",
    &RunDeepScan,
    1,
    2,
});

}  // namespace

}  // namespace quorvel::cli

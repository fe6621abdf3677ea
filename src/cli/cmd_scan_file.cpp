// `quorvel scan-file show FILE [--json]`: what a scan-result file holds (the
// disk it was written for, its partitions, logical volumes, carved files and
// traces) without any disk at hand, and whether it is whole.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "cli/exit_without_teardown.h"
#include "cli/json_writer.h"
#include "scanfile/scan_file_reader.h"
#include "scanfile/scan_file_texts.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "scan-file";

const char* EncodingText(ScanFileEncoding encoding) {
  return encoding == ScanFileEncoding::kGb18030 ? "GB18030" : "UTF-8";
}

// The end of the farthest sector range the file holds: what a disk must
// reach for none of them to be cut.
uint64_t SectorsReached(const DiskRecord& v) {
  uint64_t end = v.directorySectors.empty() ? 0 : *v.directorySectors.rbegin() + 1;
  for (const MftFragment& f : v.mftFragments) end = std::max(end, f.startSector + f.sectorCount);
  for (const auto& [sector, file] : v.carvedFiles) end = std::max(end, sector + (file.size + 511) / 512);
  for (const PartitionRecord& p : v.partitions)
    if (p.volumeKind == kPlainVolume) end = std::max(end, p.startSector + p.sectorCount);
  return end;
}

void PrintJson(const std::string& path, const ScanFileContents& contents, const DiskRecord* disk) {
  JsonWriter json;
  json.BeginObject().Field("file", path).Field("encoding", EncodingText(contents.encoding));
  json.Key("damaged").Bool(contents.Damaged()).Field("problem_count", contents.problemCount);
  json.Key("checked_against");
  if (disk)
    json.String(disk->Identity());
  else
    json.Null();
  json.Field("clipped", contents.clippedRanges).Field("sectors_reached", SectorsReached(contents.values));
  json.Key("problems").BeginArray();
  for (const ScanFileProblem& p : contents.problems)
    json.BeginObject().Field("line", p.line).Field("what", p.what).EndObject();
  json.EndArray();
  const DiskRecord& v = contents.values;
  json.Key("values")
      .BeginObject()
      .Field("map_entry_count", v.mapEntryCount)
      .Field("reserved_64", v.scanFileReserved64)
      .Field("reserved_32a", v.scanFileReserved32a)
      .Field("reserved_32b", v.scanFileReserved32b)
      .EndObject();
  json.Key("disk");
  WriteDiskJson(json, v, [&](JsonWriter& out) { WriteScanCollectionsJson(out, v); });
  json.EndObject();
  std::printf("%s\n", json.text().c_str());
}

void PrintText(const std::string& path, const ScanFileContents& contents) {
  const DiskRecord& v = contents.values;
  std::printf("扫描信息文件: %s (%s)\n", path.c_str(), EncodingText(contents.encoding));
  std::printf("磁盘类型: %u  磁盘标识: %s  组标识: %s\n", v.diskKind, v.diskIdText.c_str(), v.groupIdText.c_str());
  std::printf("目录扇区: %zu  MFT 片段: %zu  Extra Found Files: %zu  扇区范围: 0-%llu\n\n", v.directorySectors.size(),
              v.mftFragments.size(), v.carvedFiles.size(), static_cast<unsigned long long>(SectorsReached(v)));
  PrintDiskTable({&v}, true);
  if (!v.lvm.logicalVolumes.empty()) {
    std::vector<std::vector<std::string>> rows{{"LVM2 逻辑卷", "扇区数", "段"}};
    for (const LvmLogicalVolume& lv : v.lvm.logicalVolumes)
      rows.push_back({"  " + lv.name, std::to_string(lv.size), std::to_string(lv.segments.size())});
    std::printf("\n");
    PrintAlignedRows(rows, 1);
  }
}

int RunScanFile(const ParsedArgs& parsed) {
  if (parsed.positional[0] != "show") return UsageError(kName, "unknown action \"" + parsed.positional[0] + "\"");
  std::string error;
  const std::string& path = parsed.positional[1];
  std::unique_ptr<FileSource> file = FileSource::Open(path, &error);
  if (!file) {
    std::fprintf(stderr, "quorvel: %s: %s: %s\n", kScanFileOpenFailed, path.c_str(), error.c_str());
    return kExitNotFound;
  }
  // With the disk at hand the file is read as loading reads it: for that
  // disk alone, its ranges cut to the disk's end.
  DiskList list;
  KeepUntilExit keep(list);
  DiskRecord* disk = nullptr;
  if (parsed.positional.size() > 2 && OpenSource(parsed.positional[2], list, disk) != kExitDone) return kExitNotFound;
  ScanFileContents contents;
  const std::string identity = disk ? disk->Identity() : std::string();
  ReadScanFile(*file, contents, disk ? &identity : nullptr,
               disk ? ScanFileDiskBounds::Of(*disk) : ScanFileDiskBounds());
  if (contents.otherDisk || (disk && contents.diskValuesRead && contents.values.diskKind != disk->diskKind)) {
    std::fprintf(stderr, "quorvel: %s: %s was written for \"%s\", not for \"%s\"\n", kScanFileOtherDisk, path.c_str(),
                 contents.identity.c_str(), identity.c_str());
    return kExitNotFound;
  }
  // The identity the file names stands for the disk.
  contents.values.vendor = contents.identity;
  if (parsed.Has("--json"))
    PrintJson(path, contents, disk);
  else
    PrintText(path, contents);
  std::fflush(stdout);
  if (!contents.Damaged()) return kExitDone;
  std::fprintf(stderr, "quorvel: %s: %s\n", kScanFileDamaged, path.c_str());
  if (contents.clippedRanges)
    std::fprintf(stderr, "quorvel: %llu sector range(s) reach past the end of %s: cut to it\n",
                 static_cast<unsigned long long>(contents.clippedRanges), identity.c_str());
  for (const ScanFileProblem& p : contents.problems)
    std::fprintf(stderr, "  line %llu: %s\n", static_cast<unsigned long long>(p.line), p.what.c_str());
  if (contents.problemCount > contents.problems.size())
    std::fprintf(stderr, "  ... %llu more\n",
                 static_cast<unsigned long long>(contents.problemCount - contents.problems.size()));
  return kExitNotFound;
}

CommandRegistrar reg({
    kName,
    "scan-file show FILE [SOURCE] [--json]",
    "show what a scan-result file (.rvz_scn) holds, without a disk",
    {{"show", "the action: print what FILE holds"},
     {"FILE", "the scan-result file"},
     {"SOURCE",
      "the disk or image the file was written for (optional): the file must name it, and its\n"
      "sector ranges are cut to the disk's end as loading cuts them (each cut is damage)"}},
    {{"--json", nullptr,
      "{\"file\",\"encoding\",\"damaged\",\"problem_count\",\"checked_against\" (SOURCE's identity or\n"
      "null),\"clipped\" (ranges cut to SOURCE's end),\"sectors_reached\" (the end of the farthest\n"
      "range),\"problems\":[{\"line\",\"what\"}],\n"
      "\"values\":{\"map_entry_count\",\"reserved_64\",\"reserved_32a\",\"reserved_32b\"},\n"
      "\"disk\":{...the disk as `disks --json` prints it, \"identity\" the file's first line...,\n"
      "\"carved\":[{\"start_sector\",\"size\",\"name\"}],\n"
      "\"mft_fragments\":[{\"start_sector\",\"sector_count\"}],\"directory_sectors\":N}}"}},
    "A scan-result file keeps what a lost-partition scan, a deep scan or a format scan found on one\n"
    "disk, so that the partitions found can be listed and saved later without scanning again: it is\n"
    "written by --save-scan FILE (deep-scan, lost-partitions, format-scan) and by the desktop\n"
    "application's \"保存\", and read by --scan FILE (ls, save, hex, disks, format-scan, deep-scan,\n"
    "lost-partitions) and the desktop application's \"打开扫描信息\".\n"
    "\n"
    "The file is text, one value per line with CR LF line ends: the disk's identity text, the FAT\n"
    "directory sectors, the MFT fragments and the carved files (each a count and its lines), eleven\n"
    "disk values (kind, identifiers, LVM2 extents), then a block per partition (\"-----partition-----\",\n"
    "its 17 values and its members) and per LVM2 logical volume (\"-----Logical_Volumes-----\" with its\n"
    "segments). It is written in UTF-8; files written in code page 936 (GB18030) are read as well.\n"
    "\n"
    "A damaged file (cut short, counts beyond its lines, numbers that are none, a partition of 0\n"
    "bytes per sector or 0 sectors per cluster, with SOURCE ranges past the disk's end) is shown as\n"
    "far as it is whole, with the problems found on stderr (or in \"problems\"). Without SOURCE the\n"
    "disk's size is not known: \"扇区范围\" (\"sectors_reached\") says how far the file's ranges go.\n"
    "\n"
    "exit status: 0 the file is whole, 1 usage error, 2 the file cannot be read, is damaged or is\n"
    "not SOURCE's (or SOURCE is not found)\n",
    &RunScanFile,
    2,
    3,
});

}  // namespace

}  // namespace quorvel::cli

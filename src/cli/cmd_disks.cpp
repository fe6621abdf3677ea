// `quorvel disks`: the disk page as text or JSON, with the partitions of
// scan-result files loaded onto their disks.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "cli/json_writer.h"
#include "cli/scan_file_option.h"
#include "volumes/disk_enumeration.h"

namespace quorvel::cli {

namespace {

void PrintJson(const DiskList& list) {
  JsonWriter json;
  json.BeginObject().Key("disks").BeginArray();
  for (const DiskRecord& disk : list) WriteDiskJson(json, disk);
  json.EndArray().EndObject();
  std::printf("%s\n", json.text().c_str());
}

int RunDisks(const ParsedArgs& parsed) {
  DiskList list;
  if (parsed.positional.empty()) {
    std::vector<std::string> unreadable;
    EnumerateDisks(list, &unreadable);
    for (const std::string& why : unreadable) std::fprintf(stderr, "quorvel disks: skipped %s\n", why.c_str());
  } else {
    for (const std::string& image : parsed.positional) {
      std::string why;
      if (!OpenImageFile(list, image, &why)) {
        std::fprintf(stderr, "quorvel disks: cannot open %s\n", why.c_str());
        return kExitNotFound;
      }
    }
  }
  // Each file onto the disk it was written for, among all listed.
  std::vector<DiskRecord*> all;
  for (DiskRecord& disk : list) all.push_back(&disk);
  int status = kExitDone;
  for (const std::string& path : parsed.GetAll("--scan")) {
    ScanFileOption scanFile{path};
    if (LoadScanFileOnto(scanFile, all) != kExitDone) return kExitNotFound;
    status = WithScanFileStatus(status, scanFile);
  }
  if (parsed.Has("--json")) {
    PrintJson(list);
  } else {
    std::vector<const DiskRecord*> disks;
    for (const DiskRecord& disk : list) disks.push_back(&disk);
    PrintDiskTable(disks, parsed.Has("--scan"));
  }
  return status;
}

CommandRegistrar reg({
    "disks",
    "disks [IMAGE...] [--scan FILE]... [--json]",
    "list the disks (or the given images) with their partitions and volumes",
    {{"IMAGE...",
      "image files (or device paths) to list instead of the machine's physical disks; the disks of a\n"
      "dynamic-disk group given together are assembled into one group disk whose rows are the volumes"}},
    {{"--scan", "FILE",
      "load a scan-result file onto the disk it was written for (repeatable): the disk then shows\n"
      "the partitions of that earlier scan, with a column telling how each was found. A file for none\n"
      "of the disks listed ends the command (exit status 2); a damaged one is shown as far as it is\n"
      "whole (exit status 2 at the end)"},
     {"--json", nullptr, "print the list as JSON (fields in the README: disks, partitions, members, lvm)"}},
    "Without IMAGE the physical disks are listed (whole-disk block devices from /sys/block, at most 16);\n"
    "reading them needs permission to open /dev/NAME read-only, and a disk that cannot be opened is\n"
    "skipped with a note on stderr. Partitions are found from MBR and extended chains, GPT, whole-disk\n"
    "volumes, dynamic-disk databases, LVM2 labels and Apple partition maps.\n"
    "\n"
    "columns: row text (disk identity, or the partition's mount point or name), volume label, file\n"
    "system, start, size\n"
    "exit status: 0 done, 1 usage error, 2 an IMAGE or a scan file cannot be opened, is for none of\n"
    "the disks or is damaged\n",
    &RunDisks,
});

}  // namespace

}  // namespace quorvel::cli

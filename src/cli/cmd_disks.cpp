// `quorvel disks [IMAGE...] [--scan FILE]... [--json]`: the disk page as text
// or JSON, with the partitions of scan-result files loaded onto their disks.
#include <cstdio>
#include <cstdlib>
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

int RunDisks(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--scan"}, parsed, error)) {
    std::fprintf(stderr, "quorvel disks: %s\n", error.c_str());
    return kExitUsage;
  }
  for (const auto& [flag, value] : parsed.options) {
    if (flag != "--json" && flag != "--scan") {
      std::fprintf(stderr, "quorvel disks: unknown option %s\n", flag.c_str());
      return kExitUsage;
    }
  }
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
    PrintDiskTable(disks, !parsed.GetAll("--scan").empty());
  }
  return status;
}

constexpr const char* kSummary =
    "List disks (or the given images) with their partitions and volumes: MBR, GPT, whole-disk volumes, dynamic-disk "
    "groups and their volumes with member disks, LVM2 logical volumes, Apple partition maps.";
constexpr const char* kHelp =
    "IMAGE...    image files (or device paths) to list instead of the physical disks. The\n"
    "            disks of a dynamic-disk group given together are assembled into one group\n"
    "            disk (kind 2) whose rows are the volumes' components; members whose disk is\n"
    "            not among them are shown as not present (a RAID-5 volume still reads with\n"
    "            one member missing).\n"
    "--scan FILE load a scan-result file onto the disk it was written for (repeatable): the disk\n"
    "            then shows the partitions of that earlier scan, with a column telling how each\n"
    "            was found. A file for none of the disks listed ends the command (exit status 2);\n"
    "            a damaged one is shown as far as it is whole (exit status 2 at the end)\n"
    "--json      print the list as JSON (see README: disks, members, lvm)\n";

CommandRegistrar reg({"disks",
                      "disks [IMAGE...] [--scan FILE]... [--json]   list disks (or images) and their partitions",
                      &RunDisks, kSummary, kHelp});

}  // namespace

}  // namespace quorvel::cli

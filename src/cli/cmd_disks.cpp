// `quorvel disks [IMAGE...] [--json]`: the disk page as text or JSON.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "cli/json_writer.h"
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
  if (!ParseArgs(args, {}, parsed, error)) {
    std::fprintf(stderr, "quorvel disks: %s\n", error.c_str());
    return kExitUsage;
  }
  for (const auto& [flag, value] : parsed.options) {
    if (flag != "--json") {
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
  if (parsed.Has("--json")) {
    PrintJson(list);
  } else {
    std::vector<const DiskRecord*> disks;
    for (const DiskRecord& disk : list) disks.push_back(&disk);
    PrintDiskTable(disks);
  }
  return kExitDone;
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
    "--json      print the list as JSON (see README: disks, members, lvm)\n";

CommandRegistrar reg({"disks", "disks [IMAGE...] [--json]   list disks (or images) and their partitions", &RunDisks,
                      kSummary, kHelp});

}  // namespace

}  // namespace quorvel::cli

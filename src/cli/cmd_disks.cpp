// `quorvel disks [IMAGE...] [--json]`: the disk page as text or JSON.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "model/partition_texts.h"
#include "volumes/disk_enumeration.h"

namespace quorvel::cli {

namespace {

using Row = std::vector<std::string>;

void PrintTable(const DiskList& list) {
  std::vector<Row> rows;
  rows.push_back({"磁盘", "标签", "文件类型", "起始地址", "大小"});
  for (const DiskRecord& disk : list) {
    rows.push_back({disk.Identity(), "", "", "0", SizeText(disk.sizeBytes)});
    std::vector<std::string> texts = PartitionRowTexts(disk);
    size_t i = 0;
    for (const PartitionRecord& p : disk.partitions) {
      rows.push_back({"  " + texts[i++], p.volumeLabel, PartitionTypeText(p), SizeText(p.startSector * 512),
                      SizeText(p.sectorCount * 512)});
    }
  }
  PrintAlignedRows(rows, 3);
}

void PrintJson(const DiskList& list) {
  std::vector<const DiskRecord*> disks;
  for (const DiskRecord& disk : list) disks.push_back(&disk);
  std::printf("%s\n", DisksJson(disks).c_str());
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
      if (!OpenImageFile(list, image)) {
        std::fprintf(stderr, "quorvel disks: cannot open \"%s\" for reading\n", image.c_str());
        return kExitNotFound;
      }
    }
  }
  if (parsed.Has("--json")) {
    PrintJson(list);
  } else {
    PrintTable(list);
  }
  return kExitDone;
}

CommandRegistrar reg({"disks", "disks [IMAGE...] [--json]   list disks (or images) and their partitions", &RunDisks});

}  // namespace

}  // namespace quorvel::cli

#include "cli/cli_source.h"

#include <sys/stat.h>
#include <cctype>
#include <cstdio>

#include "cli/command_registry.h"
#include "cli/disk_listing.h"
#include "model/partition_texts.h"
#include "volumes/disk_enumeration.h"

namespace quorvel::cli {

static bool IsDecimal(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

DiskRecord* LoadSource(const std::string& source, DiskList& list, std::string& error) {
  struct stat st {};
  if (stat(source.c_str(), &st) == 0) {
    // A path: a physical disk we know by its device path, else an image.
    if (S_ISBLK(st.st_mode)) {
      EnumerateDisks(list);
      for (DiskRecord& disk : list)
        if (disk.devicePath == source) return &disk;
    }
    std::string why;
    if (!OpenImageFile(list, source, &why)) {
      error = "cannot open " + why;
      return nullptr;
    }
    return &list.back();
  }
  EnumerateDisks(list);
  for (DiskRecord& disk : list) {
    if ((IsDecimal(source) && disk.diskNumber == source) || disk.Identity() == source) return &disk;
  }
  error = "no disk or image \"" + source + "\"";
  return nullptr;
}

PartitionRecord* FindPartition(DiskRecord& disk, const std::string& text) {
  for (PartitionRecord& partition : disk.partitions)
    if (partition.name == text || (!partition.driveLetter.empty() && partition.driveLetter == text)) return &partition;
  if (IsDecimal(text)) {
    size_t index = std::stoul(text);
    size_t i = 0;
    for (PartitionRecord& partition : disk.partitions)
      if (i++ == index) return &partition;
  }
  return nullptr;
}

void PrintNoPartition(const DiskRecord& disk, const std::string& text, const std::string& when) {
  std::fprintf(stderr, "quorvel: no partition \"%s\" on %s%s\n", text.c_str(), disk.Identity().c_str(), when.c_str());
  if (disk.partitions.empty()) {
    std::fprintf(stderr, "quorvel: %s lists no partitions\n", disk.Identity().c_str());
    return;
  }
  std::fprintf(stderr, "PARTITION is one of these row texts, or its index:\n");
  std::vector<std::vector<std::string>> rows;
  const std::vector<std::string> texts = PartitionRowTexts(disk);
  size_t index = 0;
  for (const PartitionRecord& partition : disk.partitions) {
    rows.push_back({"  " + std::to_string(index), texts[index], PartitionTypeText(partition)});
    ++index;
  }
  PrintAlignedRows(rows, 0, 1, stderr);
}

int OpenSource(const std::string& source, DiskList& list, DiskRecord*& disk) {
  std::string error;
  disk = LoadSource(source, list, error);
  if (!disk) {
    std::fprintf(stderr, "quorvel: %s\n", error.c_str());
    return kExitNotFound;
  }
  return kExitDone;
}

// A volume listed but not readable (a striped LVM2 volume, one whose extents
// lie on a disk not given) is refused with its reason.
static int RefuseUnreadable(const PartitionRecord& partition) {
  if (partition.unreadableReason.empty()) return kExitDone;
  std::fprintf(stderr, "quorvel: cannot read %s: %s\n", partition.name.c_str(), partition.unreadableReason.c_str());
  return kExitNotFound;
}

int OpenSourcePartition(const std::string& source, const std::string& partitionText, DiskList& list, DiskRecord*& disk,
                        PartitionRecord*& partition) {
  partition = nullptr;
  if (OpenSource(source, list, disk) != kExitDone) return kExitNotFound;
  partition = FindPartition(*disk, partitionText);
  if (!partition) {
    PrintNoPartition(*disk, partitionText);
    return kExitNotFound;
  }
  return RefuseUnreadable(*partition);
}

int OpenSourcesPartition(const std::vector<std::string>& sources, const std::string& partitionText, DiskList& list,
                         DiskRecord*& disk, PartitionRecord*& partition) {
  partition = nullptr;
  if (sources.size() == 1) return OpenSourcePartition(sources[0], partitionText, list, disk, partition);
  std::vector<DiskRecord*> loaded;
  for (size_t i = 1; i < sources.size(); ++i) {
    struct stat st {};
    if (stat(sources[i].c_str(), &st) == 0) continue;
    // "ls disk.img Partition1 extra": the first word that is no file must
    // be PARTITION, and what follows it is too much.
    const std::string& extra = i + 1 < sources.size() ? sources[i + 1] : partitionText;
    std::fprintf(stderr,
                 "quorvel: unexpected argument \"%s\" (\"%s\" is no image file or device; only the disks of a "
                 "dynamic-disk group are given together)\n",
                 extra.c_str(), sources[i].c_str());
    return kExitUsage;
  }
  for (const std::string& source : sources) {
    std::string why;
    if (!OpenImageFile(list, source, &why)) {
      std::fprintf(stderr, "quorvel: cannot open %s\n", why.c_str());
      return kExitNotFound;
    }
  }
  // Groups first: a volume spread over the sources is what several sources
  // are given for.
  for (DiskRecord& d : list)
    if (d.diskKind != 0) loaded.push_back(&d);
  for (DiskRecord& d : list)
    if (d.diskKind == 0) loaded.push_back(&d);
  for (DiskRecord* d : loaded) {
    if (PartitionRecord* p = FindPartition(*d, partitionText)) {
      disk = d;
      partition = p;
      return RefuseUnreadable(*p);
    }
  }
  std::fprintf(stderr, "quorvel: no partition or volume \"%s\" on the %zu sources given\n", partitionText.c_str(),
               sources.size());
  for (const DiskRecord* d : loaded) PrintNoPartition(*d, partitionText);
  return kExitNotFound;
}

}  // namespace quorvel::cli

#include "io/write_guard.h"

#include "platform/storage_footprint.h"

namespace quorvel {

namespace {

// DiskRecord::diskKind of a dynamic-disk group: its device path is the
// group's name, not a file.
constexpr uint32_t kGroupDiskKind = 2;

void AddPartitionPaths(const PartitionRecord& partition, std::vector<std::string>& paths) {
  if (!partition.devicePath.empty()) paths.push_back(partition.devicePath);
  for (const auto& [ordinal, member] : partition.members)
    if (!member.path.empty()) paths.push_back(member.path);
}

}  // namespace

std::vector<std::string> SourceStoragePaths(const DiskRecord& disk, const PartitionRecord* partition) {
  std::vector<std::string> paths;
  if (disk.diskKind != kGroupDiskKind && !disk.devicePath.empty()) paths.push_back(disk.devicePath);
  if (partition) {
    AddPartitionPaths(*partition, paths);
  } else {
    for (const PartitionRecord& p : disk.partitions) AddPartitionPaths(p, paths);
  }
  return paths;
}

bool TargetReachesSource(const std::string& target, const DiskRecord& disk, const PartitionRecord* partition) {
  return WritingReachesSource(target, SourceStoragePaths(disk, partition));
}

}  // namespace quorvel

#include "imaging/imaging_target.h"

#include "io/write_guard.h"

namespace quorvel {

ImagingSelection SelectionOf(const DiskRecord& disk, const PartitionRecord* partition) {
  ImagingSelection s;
  s.disk = &disk;
  s.partition = partition;
  s.devicePath = disk.devicePath.empty() && partition ? partition->devicePath : disk.devicePath;
  if (!partition) {
    s.length = disk.sizeBytes;
  } else {
    s.startByte = partition->startSector * 512;
    s.length = partition->sectorCount * 512;
  }
  s.storagePaths = SourceStoragePaths(disk, partition);
  return s;
}

std::string SelectionText(const DiskRecord& disk, const PartitionRecord* partition) {
  if (!partition) return disk.Identity();
  return disk.Identity() + "," + (partition->name.empty() ? partition->volumeLabel : partition->name);
}

namespace {

const PartitionRecord* FindByText(const DiskRecord& disk, const std::string& text) {
  // The name first: it is what the picker writes; then the disk page's row
  // text (a mount point); then the label.
  for (const PartitionRecord& p : disk.partitions)
    if (p.name == text) return &p;
  for (const PartitionRecord& p : disk.partitions)
    if (!p.driveLetter.empty() && p.driveLetter == text) return &p;
  for (const PartitionRecord& p : disk.partitions)
    if (!p.volumeLabel.empty() && p.volumeLabel == text) return &p;
  return nullptr;
}

}  // namespace

bool ResolveImagingTarget(const DiskList& disks, const std::string& text, ImagingSelection& out) {
  const DiskRecord* best = nullptr;
  const PartitionRecord* bestPartition = nullptr;
  size_t bestLength = 0;
  for (const DiskRecord& disk : disks) {
    std::string name = disk.Identity();
    if (name.empty() || (best && name.size() <= bestLength)) continue;
    if (text == name) {
      best = &disk;
      bestPartition = nullptr;
      bestLength = name.size();
    } else if (text.size() > name.size() && text.compare(0, name.size(), name) == 0 && text[name.size()] == ',') {
      if (const PartitionRecord* p = FindByText(disk, text.substr(name.size() + 1))) {
        best = &disk;
        bestPartition = p;
        bestLength = name.size();
      }
    }
  }
  if (!best) return false;
  out = SelectionOf(*best, bestPartition);
  return true;
}

}  // namespace quorvel

#pragma once
// What an imaging source or target text names: a whole disk ("disk") or one
// of its partitions ("disk,partition"), as the pickers of the imaging dialog
// write them.
#include <cstdint>
#include <string>
#include <vector>

#include "model/disk_records.h"

namespace quorvel {

struct ImagingSelection {
  const DiskRecord* disk = nullptr;
  const PartitionRecord* partition = nullptr;  // null: the whole disk
  std::string devicePath;                      // the disk's (or image file's) path
  uint64_t startByte = 0;                      // where the selection begins on devicePath (or on the volume)
  uint64_t length = 0;                         // bytes
  // Every path the selection's bytes come from (io/write_guard.h): the disk,
  // and for a volume spread over disks each member's disk.
  std::vector<std::string> storagePaths;

  bool Composite() const { return partition && partition->volumeKind != kPlainVolume; }
  uint64_t Sectors() const { return length / 512; }
};

// The selection of a disk, or of one of its partitions.
ImagingSelection SelectionOf(const DiskRecord& disk, const PartitionRecord* partition);

// The text a picker writes for a selection: the disk's naming text, or that
// text, "," and the partition's name (its label when it has no name).
std::string SelectionText(const DiskRecord& disk, const PartitionRecord* partition);

// Resolves a selection text: the disk whose naming text is the text, or is
// followed in it by "," and a partition's name, mount point or label. Disk
// names may themselves hold a comma (an image file "a,b.img"), so the longest
// disk name that fits wins. False when nothing matches.
bool ResolveImagingTarget(const DiskList& disks, const std::string& text, ImagingSelection& out);

}  // namespace quorvel

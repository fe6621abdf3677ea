// Volume-manager readers that the partition walk hands off to.
#include "volumes/volume_managers.h"

#include <memory>

#include "io/byte_source.h"
#include "io/volume_source.h"
#include "volumes/apple/apple_partition_map.h"
#include "volumes/ldm/ldm_group.h"
#include "volumes/lvm2/lvm_label.h"
#include "volumes/lvm2/lvm_mapping.h"
#include "volumes/volume_recognition.h"

namespace quorvel {

namespace {

constexpr uint64_t kMbrPrivateHeaderSector = 6;

}  // namespace

void ReadDynamicDiskDatabase(DiskRecord& disk, const ByteSource& source, const std::string&) {
  ReadDynamicDiskHeader(disk, source, kMbrPrivateHeaderSector, LdmHeaderPlace::kMbr);
}

void ReadGptDynamicDisk(DiskRecord& disk, const ByteSource& source, uint64_t start, uint64_t count) {
  if (count == 0) return;
  ReadDynamicDiskHeader(disk, source, start + count - 1, LdmHeaderPlace::kGpt);
}

void ReadLvm2Volumes(DiskRecord& disk, const ByteSource& source, const std::string&) {
  uint8_t sector1[512];
  source.ReadAt(512, sector1);
  if (ReadLvmLabel(ByteView(sector1), source, disk) != 0) return;
  disk.partitions = MapLogicalVolumes(disk);
  for (PartitionRecord& lv : disk.partitions) {
    if (!lv.unreadableReason.empty()) continue;
    std::unique_ptr<ByteSource> volume = OpenVolumeSource(disk, lv);
    if (volume) RecogniseVolume(*volume, lv, true);
  }
}

void WalkApplePartitionMap(ByteView head, DiskRecord& disk, const ByteSource& source) {
  ReadApplePartitionMap(head, source, disk);
}

void ProbeWholeDiskHfs(ByteView header, DiskRecord& disk) { AddWholeDiskHfs(header, disk); }

}  // namespace quorvel

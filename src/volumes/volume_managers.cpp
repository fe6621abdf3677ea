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
constexpr size_t kHeadBytes = 2048;

}  // namespace

void ReadDynamicDiskDatabase(DiskRecord& disk, SectorDevice&, const std::string& path) {
  std::unique_ptr<FileSource> source = FileSource::Open(path);
  if (source) ReadDynamicDiskHeader(disk, *source, kMbrPrivateHeaderSector, LdmHeaderPlace::kMbr);
}

void ReadGptDynamicDisk(DiskRecord& disk, const std::string& path, uint64_t start, uint64_t count) {
  if (count == 0) return;
  std::unique_ptr<FileSource> source = FileSource::Open(path);
  if (source) ReadDynamicDiskHeader(disk, *source, start + count - 1, LdmHeaderPlace::kGpt);
}

void ReadLvm2Volumes(DiskRecord& disk, SectorDevice&, const std::string& path) {
  std::unique_ptr<FileSource> source = FileSource::Open(path);
  if (!source) return;
  uint8_t sector1[512];
  source->ReadAt(512, sector1);
  if (ReadLvmLabel(ByteView(sector1, sizeof sector1), *source, disk) != 0) return;
  disk.partitions = MapLogicalVolumes(disk);
  for (PartitionRecord& lv : disk.partitions) {
    if (!lv.unreadableReason.empty()) continue;
    std::unique_ptr<ByteSource> volume = OpenVolumeSource(disk, lv);
    if (volume) RecogniseVolume(*volume, lv, true);
  }
}

void WalkApplePartitionMap(const uint8_t* head, DiskRecord& disk, SectorDevice& device) {
  std::unique_ptr<FileSource> source = FileSource::Open(device.path());
  if (source) ReadApplePartitionMap(ByteView(head, kHeadBytes), *source, disk);
}

void ProbeWholeDiskHfs(const uint8_t* header, DiskRecord& disk) { AddWholeDiskHfs(header, disk); }

}  // namespace quorvel

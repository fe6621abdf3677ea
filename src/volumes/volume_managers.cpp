// Volume-manager readers that the partition walk hands off to. The dynamic-disk,
// LVM2 and Apple-map readers arrive later; until then the walk's call sites stay
// in place and these do nothing.
#include "volumes/volume_managers.h"

#include "fs/fs_recognition.h"
#include "fs/hfs_layout.h"

namespace quorvel {

// Not read yet: the disk shows no volumes from its dynamic-disk database.
void ReadDynamicDiskDatabase(DiskRecord&, const ByteSource&, const std::string&) {}

// Not read yet: an LVM2 physical volume shows no logical volumes.
void ReadLvm2Volumes(DiskRecord&, const ByteSource&, const std::string&) {}

// Not read yet: an Apple-partitioned disk shows no partitions.
void WalkApplePartitionMap(ByteView, DiskRecord&, const ByteSource&) {}

void ProbeWholeDiskHfs(ByteView header, DiskRecord& disk) {
  PartitionRecord record;
  switch (header.Le16(HfsHeader::kSignature)) {
    case HfsHeader::kHfsSignature:  // HFS, or HFS+ wrapped in it
      if (header.Le16(HfsHeader::kEmbeddedSignature) == HfsHeader::kHfsPlusSignature) {
        record.subKindCode = 4;
        record.subKindText = "HFS+ in HFS";
      } else {
        record.subKindCode = 1;
        record.subKindText = "HFS";
      }
      record.volumeLabel = HfsVolumeName(header);
      break;
    case HfsHeader::kHfsPlusSignature:
      record.subKindCode = 2;
      record.subKindText = "HFS+";
      record.volumeLabel = "only hfs+";
      break;
    default:
      return;  // HFSX without a map, or nothing at all
  }
  record.name = "Partition0";
  record.startSector = 0;
  uint32_t bytesPerSector = disk.bytesPerSector ? disk.bytesPerSector : kDefaultSectorSize;
  record.sectorCount = disk.sizeBytes / bytesPerSector;
  record.devicePath = disk.devicePath;
  record.fsKind = FsKind::kHfsFamily;
  disk.partitions.push_back(std::move(record));
}

}  // namespace quorvel

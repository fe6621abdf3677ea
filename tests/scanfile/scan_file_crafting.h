#pragma once
// Disks with every value a scan-result file carries, and loading text
// straight from memory.
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "model/disk_records.h"
#include "scanfile/scan_file_load.h"

namespace quorvel::test {

inline ScanFileLoadResult LoadText(DiskRecord& disk, const std::string& text) {
  return LoadScanResult(disk, MemorySource(std::vector<uint8_t>(text.begin(), text.end())));
}

// A dynamic-disk group (so that member paths are kept as written) with
// collections, disk values, a plain and a composite partition and an LVM2
// logical volume; every field off its default.
inline DiskRecord RichDisk() {
  DiskRecord disk;
  disk.vendor = "Dg0";
  disk.diskKind = 2;
  disk.devicePath = "Dg0";
  disk.directorySectors = {5, 4096, 70000000000ULL};
  disk.mftFragments = {{900, 30}, {100, 3000000000U}, {900, 7}};  // out of order, a start twice
  disk.carvedFiles[64] = {0, 5ULL << 30, "64.pdf", "pdf"};        // past 4 GiB
  disk.carvedFiles[128] = {0, 1234, "a,b,c.jpg", "jpg"};          // commas in the name
  disk.mapEntryCount = 3;
  disk.diskIdText = "6731201";
  disk.groupIdText = "1122334455";
  disk.lvm.peStart = 2048;
  disk.lvm.devSize = 163840;
  disk.lvm.peCount = 80;
  disk.lvm.extentSize = 8192;
  disk.scanFileReserved64 = 77;
  disk.scanFileReserved32a = 0xFFFFFFFEu;
  disk.scanFileReserved32b = 9;

  PartitionRecord plain;
  plain.devicePath = "/dev/sdz";
  plain.subKindText = "HFS+";
  plain.subKindCode = 2;
  plain.volumeLabel = "标签 卷";
  plain.driveLetter = "/media/数据";
  plain.name = "Partition4";
  plain.linuxSubKind = "EXT4";
  plain.sectorCount = 123456789;
  plain.startSector = 2048;
  plain.role = 2;
  plain.sectorsPerCluster = 16;
  plain.dataOrigin = 4000;
  plain.fsKind = 0x0B;
  plain.bytesPerSector = 4096;
  plain.originCode = 1;
  plain.stripeSize = 64;
  plain.fat.sizeSectors = 642;
  plain.ntfs.mftStartSector = 116768;
  disk.partitions.push_back(plain);

  PartitionRecord raid;
  raid.name = "Volume4-01";
  raid.driveLetter = "H:";
  raid.fsKind = 0x07;
  raid.sectorCount = 65536;
  raid.volumeKind = kParityVolume;
  raid.stripeSize = 128;
  for (uint8_t i = 0; i < 3; ++i) {
    VolumeMember m;
    m.ordinal = i;
    m.memberDiskId.fill(static_cast<uint8_t>(250 + i));
    m.path = i == 2 ? "" : "/images/raid5-" + std::to_string(i + 1) + ".img";  // the last disk missing
    m.startSector = 128 + i;
    m.sectorCount = 32768;
    raid.members[i] = m;
  }
  disk.partitions.push_back(raid);

  LvmLogicalVolume lv;
  lv.name = "lvntfs";
  lv.flag = 1;
  lv.size = 131072;
  lv.segmentCount = 2;
  lv.segments = {{0, 8, "pv0", 1, "GgFqKT-NQMM", 44}, {8, 8, "pv1", 1, "Xy-Zw", 36}};
  disk.lvm.logicalVolumes.push_back(lv);
  return disk;
}

}  // namespace quorvel::test

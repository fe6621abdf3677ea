// Building the DiskList: physical disks, image files, mount points, and the
// start of the partition walk (its steps live in mbr.cpp, gpt.cpp and
// whole_disk.cpp).
#include "volumes/disk_enumeration.h"

#include <cctype>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/scan_progress.h"
#include "fs/fs_recognition.h"
#include "platform/physical_disks.h"
#include "platform/text.h"
#include "volumes/apple/apple_driver_descriptor_layout.h"
#include "volumes/ldm/ldm_group.h"
#include "volumes/partition_walk.h"
#include "volumes/volume_managers.h"

namespace quorvel {

namespace {

constexpr size_t kHeadBytes = 2048;

bool IsPrintable(unsigned char ch) { return ch >= 0x20 && ch < 0x7F; }

int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

}  // namespace

std::string CleanIdentifier(const std::string& raw) {
  std::string decoded;
  bool hex = !raw.empty() && raw.size() % 2 == 0;
  bool ended = false;
  for (size_t i = 0; hex && i + 1 < raw.size(); i += 2) {
    auto digit = [](char ch) {
      ch = ch == ' ' ? '0' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      return HexValue(ch);
    };
    int hi = digit(raw[i]);
    int lo = digit(raw[i + 1]);
    if (hi < 0 || lo < 0) {
      hex = false;
      break;
    }
    unsigned char byte = static_cast<unsigned char>(hi * 16 + lo);
    if (byte != 0 && !IsPrintable(byte)) hex = false;
    if (byte == 0) ended = true;  // the decoded text ends at its first zero byte
    if (hex && !ended) decoded.push_back(static_cast<char>(byte));
  }
  std::string text;
  if (hex) {
    text = decoded;
  } else {
    for (char ch : raw) {
      if (!IsPrintable(static_cast<unsigned char>(ch))) break;
      text.push_back(ch);
    }
  }
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

PartitionRecord PartitionWalk::NewRecord() {
  PartitionRecord record;
  record.name = FormatText("Partition%d", counter);
  ++counter;
  return record;
}

PartitionRecord& PartitionWalk::Append(PartitionRecord record) {
  disk.partitions.push_back(std::move(record));
  return disk.partitions.back();
}

void WalkPartitions(DiskRecord& disk, const ByteSource& source, const std::string& path) {
  PartitionWalk w{disk, source, path, 0, {}};
  std::vector<uint8_t> bytes(kHeadBytes);
  source.ReadAt(0, bytes);
  const ByteView head(bytes);
  if (!HasBootSignature(head)) {
    if (head.Matches(512, "LABELONE")) {
      ReadLvm2Volumes(disk, source, path);
    } else if (IsExtSuperblock(head.Sub(1024))) {
      AddWholeDiskExt(w, head.Sub(1024));
    } else if (head.Matches(AppleDriverDescriptor::kSignature, "ER")) {
      WalkApplePartitionMap(head, disk, source);
    } else {
      ProbeWholeDiskHfs(head.Sub(1024), disk);
    }
    return;
  }
  if (IsVolumeBootSector(head)) {
    AddWholeDiskVolume(w, head);
    return;
  }
  WalkMbr(w, head);
}

int OpenImageFile(DiskList& list, const std::string& path, std::string* why) {
  std::unique_ptr<FileSource> source = FileSource::Open(path, why);
  if (!source) return 0;
  DiskRecord disk;
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  disk.devicePath = ec ? path : full.string();
  size_t slash = disk.devicePath.find_last_of('/');
  disk.vendor = slash == std::string::npos ? disk.devicePath : disk.devicePath.substr(slash + 1);
  disk.sizeBytes = source->Size();
  disk.bytesPerSector = source->SectorSize();
  WalkPartitions(disk, *source, disk.devicePath);
  disk.cylinders = static_cast<uint32_t>(disk.sizeBytes / 512 / 255 / 63);
  disk.tracksPerCylinder = 255;
  disk.sectorsPerTrack = 63;
  list.push_back(std::move(disk));
  AssembleDiskGroups(list);
  return 1;
}

int EnumerateDisks(DiskList& list) { return EnumerateDisks(list, nullptr); }

int EnumerateDisks(DiskList& list, std::vector<std::string>* unreadable) {
  std::vector<PhysicalDiskInfo> found = ListPhysicalDisks();
  for (const PhysicalDiskInfo& info : found) {
    std::string error;
    std::unique_ptr<FileSource> source = FileSource::Open(info.path, &error);
    if (!source) {
      if (unreadable) unreadable->push_back(error);
      continue;
    }
    DiskRecord disk;
    disk.devicePath = info.path;
    disk.diskNumber = FormatText("%d", info.number);
    disk.vendor = CleanIdentifier(info.vendor);
    disk.product = CleanIdentifier(info.model);
    disk.revision = CleanIdentifier(info.revision);
    disk.sizeBytes = info.sizeBytes ? info.sizeBytes : source->Size();
    disk.bytesPerSector = source->SectorSize();
    disk.fixedMedia = info.fixed ? 1 : 0;
    WalkPartitions(disk, *source, disk.devicePath);
    disk.cylinders = info.cylinders;
    disk.tracksPerCylinder = info.heads;
    disk.sectorsPerTrack = info.sectorsPerTrack;
    list.push_back(std::move(disk));
  }
  AssembleDiskGroups(list);
  AttachMountPoints(list);
  return 1;
}

void AttachMountPoints(DiskList& list) { AttachMountPoints(list, ListMountedPartitions()); }

void AttachMountPoints(DiskList& list, const std::vector<MountedPartition>& mounts) {
  for (const MountedPartition& mount : mounts) {
    for (DiskRecord& disk : list) {
      if (disk.diskNumber.empty() || disk.devicePath != "/dev/" + mount.diskName) continue;
      for (PartitionRecord& partition : disk.partitions) {
        if (partition.volumeKind == kPlainVolume && partition.startSector == mount.startSector &&
            partition.driveLetter.empty())
          partition.driveLetter = mount.mountPoint;
      }
    }
  }
}

}  // namespace quorvel

#include "volumes/ldm/ldm_group.h"

#include <algorithm>
#include <cstdio>

#include "io/volume_source.h"
#include "volumes/ldm/ldm_database_header.h"
#include "volumes/volume_recognition.h"

namespace quorvel {

namespace {

constexpr size_t kSector = 512;

const LdmVolume* FindVolume(const LdmDatabase& db, uint64_t id) {
  for (const LdmVolume& v : db.volumes)
    if (v.id == id) return &v;
  return nullptr;
}

const LdmDisk* FindDisk(const LdmDatabase& db, uint64_t id) {
  for (const LdmDisk& d : db.disks)
    if (d.id == id) return &d;
  return nullptr;
}

bool IsDynamicMember(const DiskRecord& disk) {
  return disk.diskKind != kDynamicGroupDisk && disk.ldm.configSize != 0 && !disk.groupIdText.empty();
}

DiskRecord* FindGroup(DiskList& list, const std::string& groupIdText) {
  for (DiskRecord& d : list)
    if (d.diskKind == kDynamicGroupDisk && d.groupIdText == groupIdText) return &d;
  return nullptr;
}

// The disk of the group whose database is the newest (highest sequence
// number); the first one met wins a tie.
DiskRecord* NewestDatabaseDisk(DiskList& list, const std::string& groupIdText) {
  DiskRecord* newest = nullptr;
  for (DiskRecord& d : list) {
    if (!IsDynamicMember(d) || d.groupIdText != groupIdText) continue;
    if (!newest || d.ldmDatabase.lastSequence > newest->ldmDatabase.lastSequence) newest = &d;
  }
  return newest;
}

// Builds the group disk from disk's database; false when it cannot be read.
bool BuildGroup(const DiskRecord& disk, DiskRecord& group) {
  std::unique_ptr<ByteSource> source = OpenDiskSource(disk);
  if (!source) return false;
  LdmDatabase db;
  LdmDatabaseValues values;
  if (!ReadLdmDatabase(*source, disk.ldm, values, db)) return false;
  if (db.newerRevisionRecords != 0) {
    // Newer revisions of disk and group records read the same; say so once.
    std::fprintf(stderr, "quorvel: %s: %u disk/group records of the newer revision (0x44/0x45)\n",
                 disk.devicePath.c_str(), db.newerRevisionRecords);
  }
  if (db.multiPartRecords != 0) {
    std::fprintf(stderr, "quorvel: %s: %u dynamic-disk records span several blocks and are not read\n",
                 disk.devicePath.c_str(), db.multiPartRecords);
  }
  group = DiskRecord();
  group.diskKind = kDynamicGroupDisk;
  group.devicePath = disk.ldm.groupName;
  group.diskNumber = disk.ldm.groupName;
  group.groupIdText = disk.groupIdText;
  group.ldm = disk.ldm;
  group.ldmDatabase = values;
  group.partitions = BuildLdmVolumes(db, disk.ldm.logicalDiskStart);
  for (const PartitionRecord& p : group.partitions) group.sizeBytes += p.sectorCount * kSector;
  return true;
}

// Labels the group's volumes that can now be read.
void LabelReadableVolumes(DiskRecord& group) {
  for (PartitionRecord& volume : group.partitions) {
    if (!volume.volumeLabel.empty()) continue;
    std::unique_ptr<ByteSource> source = OpenVolumeSource(group, volume);
    if (source) RecogniseVolume(*source, volume, false);
  }
}

}  // namespace

bool ReadDynamicDiskHeader(DiskRecord& disk, const ByteSource& source, uint64_t firstSector, LdmHeaderPlace place) {
  LdmDiskValues header;
  if (!ReadLdmPrivateHeaders(source, firstSector, place, header)) return false;
  LdmDatabaseValues values;
  uint8_t vmdb[kSector];
  const uint64_t vmdbSector = header.configStart + kLdmDatabaseHeaderSector;
  if (vmdbSector > UINT64_MAX / kSector || !source.ReadFull(vmdbSector * kSector, vmdb)) return false;
  if (!ParseLdmDatabaseHeader(ByteView(vmdb, sizeof vmdb), values)) return false;
  disk.ldm = header;
  disk.ldmDatabase = values;
  disk.diskIdText = GuidBytesText(header.diskGuid);
  disk.groupIdText = GuidBytesText(header.groupGuid);
  return true;
}

std::list<PartitionRecord> BuildLdmVolumes(const LdmDatabase& db, uint64_t dataAreaStart) {
  std::list<PartitionRecord> records;
  for (const LdmComponent& component : db.components) {
    PartitionRecord record;
    record.volumeKind = component.type;
    record.stripeSize = static_cast<uint16_t>(std::min<uint64_t>(component.stripeSize, UINT16_MAX));
    record.name = component.name;
    record.volumeManager = "LDM";
    if (const LdmVolume* volume = FindVolume(db, component.parentId)) {
      record.fsKind = volume->partitionType;
      record.sectorCount = volume->size;
      record.driveLetter = volume->driveHint;
      record.volumeId = volume->name;
    }
    std::vector<const LdmPartition*> extents;
    for (const LdmPartition& part : db.partitions)
      if (part.parentId == component.id) extents.push_back(&part);
    // A concatenated volume is its extents in volume order, whatever order
    // the database lists them in.
    if (component.type == kSpannedVolume) {
      std::stable_sort(extents.begin(), extents.end(),
                       [](const LdmPartition* a, const LdmPartition* b) { return a->volumeOffset < b->volumeOffset; });
    }
    for (const LdmPartition* part : extents) {
      if (record.members.size() > UINT8_MAX) break;
      VolumeMember member;
      member.ordinal = static_cast<uint8_t>(record.members.size());
      if (const LdmDisk* disk = FindDisk(db, part->diskId)) member.memberDiskId = disk->guid;
      member.dataAreaOffset = part->start;
      member.startSector = part->start + dataAreaStart;
      member.sectorCount = part->size;
      record.members[member.ordinal] = member;
    }
    if (record.volumeKind < kStripedVolume || record.volumeKind > kParityVolume)
      record.unreadableReason = "unknown volume layout " + std::to_string(record.volumeKind);
    else if (record.members.empty())
      record.unreadableReason = "the database lists no extent of this volume";
    records.push_back(std::move(record));
  }
  return records;
}

void LinkDiskIntoGroup(DiskRecord& group, const DiskRecord& disk) {
  for (PartitionRecord& p : group.partitions) {
    for (auto& [ordinal, member] : p.members) {
      if (GuidBytesText(member.memberDiskId) != disk.diskIdText) continue;
      member.path = disk.devicePath;
      member.startSector = member.dataAreaOffset + disk.ldm.logicalDiskStart;
    }
  }
}

void AssembleDiskGroups(DiskList& list) {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (!IsDynamicMember(*it)) continue;
    DiskRecord* group = FindGroup(list, it->groupIdText);
    DiskRecord* newest = NewestDatabaseDisk(list, it->groupIdText);
    // A group built from an older database than a disk met since is built
    // again from the newer one.
    if (group && newest && newest->ldmDatabase.lastSequence > group->ldmDatabase.lastSequence) {
      DiskRecord rebuilt;
      if (BuildGroup(*newest, rebuilt)) *group = std::move(rebuilt);
    } else if (!group) {
      DiskRecord built;
      if (!BuildGroup(newest ? *newest : *it, built)) continue;
      list.push_back(std::move(built));
      group = &list.back();
    }
    for (const DiskRecord& d : list)
      if (IsDynamicMember(d) && d.groupIdText == group->groupIdText) LinkDiskIntoGroup(*group, d);
    LabelReadableVolumes(*group);
  }
}

}  // namespace quorvel

#pragma once
// Dynamic-disk groups: every disk of a group carries the group's database;
// the group is shown as a disk of its own (kind 2) whose partitions are the
// volumes' components, read through the composite readers from the member
// disks that are present.
#include <cstdint>
#include <list>

#include "io/byte_source.h"
#include "model/disk_records.h"
#include "volumes/ldm/ldm_private_header.h"
#include "volumes/ldm/ldm_records.h"

namespace quorvel {

constexpr uint32_t kDynamicGroupDisk = 2;

// Reads a disk's private headers (first copy at firstSector) and its database
// header. True when the disk is dynamic: disk.ldm, disk.ldmDatabase and its
// disk and group identity texts are then set.
bool ReadDynamicDiskHeader(DiskRecord& disk, const ByteSource& source, uint64_t firstSector, LdmHeaderPlace place);

// One partition record per component, in database order: its layout, stripe
// size and name; FsKind, size and drive hint from its volume; one member per
// extent, at the extent's start in the data area of the creating disk
// (dataAreaStart) until the member's own disk is linked. Paths stay empty.
std::list<PartitionRecord> BuildLdmVolumes(const LdmDatabase& db, uint64_t dataAreaStart);

// Gives every member of group that lies on disk the disk's path and its
// start on that disk.
void LinkDiskIntoGroup(DiskRecord& group, const DiskRecord& disk);

// Creates the group disk of every dynamic disk in list whose group is not
// there yet (from the newest database among its disks), then links every
// dynamic disk into its group, whatever the order the disks were met in.
void AssembleDiskGroups(DiskList& list);

}  // namespace quorvel

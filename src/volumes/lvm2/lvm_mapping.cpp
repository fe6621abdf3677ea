#include "volumes/lvm2/lvm_mapping.h"

#include <algorithm>
#include <vector>

#include "volumes/lvm2/lvm_metadata.h"

namespace quorvel {

namespace {

// Why the logical volume cannot be read as a run of extents on this disk;
// empty when it can.
std::string WhyUnreadable(const DiskRecord& disk, const LvmLogicalVolume& lv,
                          const std::vector<const LvmSegment*>& segments) {
  if (disk.lvm.extentSize == 0) return "the volume group has no extent size";
  if (segments.empty()) return "no segments";
  uint64_t next = 0;
  for (const LvmSegment* s : segments) {
    if (s->stripeCount > 1) return "striped over " + std::to_string(s->stripeCount) + " physical volumes; not read yet";
    if (s->stripeCount != 1 || s->pvName.empty()) return "not a linear segment; not read yet";
    if (!LvmIdsMatch(s->pvId, disk.diskIdText))
      return "lies on another physical volume (" + s->pvName + "); not read yet";
    if (s->pvStartExtent > (UINT64_MAX - disk.lvm.peStart) / disk.lvm.extentSize) return "extent out of range";
    if (s->startExtent != next) return "its segments leave a gap";
    next += s->extentCount;
  }
  if (segments.size() != lv.segmentCount) return "segments missing from the metadata";
  return std::string();
}

}  // namespace

std::list<PartitionRecord> MapLogicalVolumes(const DiskRecord& disk) {
  std::list<PartitionRecord> records;
  const uint64_t extent = disk.lvm.extentSize;
  for (const LvmLogicalVolume& lv : disk.lvm.logicalVolumes) {
    PartitionRecord record;
    record.name = lv.name;
    record.volumeKind = kSpannedVolume;
    record.volumeManager = "LVM2";
    record.sectorCount = lv.size;
    record.devicePath = disk.devicePath;
    std::vector<const LvmSegment*> segments;
    for (const LvmSegment& s : lv.segments) segments.push_back(&s);
    std::stable_sort(segments.begin(), segments.end(),
                     [](const LvmSegment* a, const LvmSegment* b) { return a->startExtent < b->startExtent; });
    record.unreadableReason = WhyUnreadable(disk, lv, segments);
    if (record.unreadableReason.empty() && segments.size() > UINT8_MAX + 1u)
      record.unreadableReason = "too many segments";
    if (record.unreadableReason.empty()) {
      for (const LvmSegment* s : segments) {
        VolumeMember member;
        member.ordinal = static_cast<uint8_t>(record.members.size());
        member.path = disk.devicePath;
        member.startSector = disk.lvm.peStart + s->pvStartExtent * extent;
        member.sectorCount = uint64_t{s->extentCount} * extent;
        record.members[member.ordinal] = member;
      }
    }
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace quorvel

#pragma once
// LVM2 logical volumes as partition records of their physical volume's
// disk, so that the file systems inside them can be recognised and read.
#include <list>

#include "model/disk_records.h"

namespace quorvel {

// One record per logical volume of disk.lvm, in metadata order: named after
// the volume, spanned over one member per segment (at pe_start + the
// segment's physical start extent x extent_size on this disk). A volume that
// cannot be read this way (striped, another segment type, on another
// physical volume, segments with gaps) is listed without members and with
// the reason in unreadableReason.
std::list<PartitionRecord> MapLogicalVolumes(const DiskRecord& disk);

}  // namespace quorvel

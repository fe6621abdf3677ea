#pragma once
// The texts a disk listing shows for disks and partitions; shared by the
// command line and the GUI so both say the same.
#include <string>
#include <vector>

#include "model/disk_records.h"

namespace quorvel {

// "FAT16", "exFAT", "NTFS", "FAT32", the HFS sub-kind text, the EXT sub-kind
// text, or empty.
std::string PartitionTypeText(const PartitionRecord& partition);
// Bytes as "%.1f KB" below 0.0001 GiB, "%.1f MB" below 0.1 GiB, else "%.1f GB".
std::string SizeText(uint64_t bytes);
// Row text of each partition in list order: its drive text (mount point) if
// it has one, else its name; the name when an earlier sibling already shows
// that text.
std::vector<std::string> PartitionRowTexts(const DiskRecord& disk);

// A member's disk identifier as GUID text ("06495a85-fbfd-11e1-..."), in
// the byte order it is stored; empty when the identifier is all zeros.
std::string MemberDiskIdText(const VolumeMember& member);

}  // namespace quorvel

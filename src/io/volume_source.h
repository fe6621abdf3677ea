#pragma once
// Opening the bytes of a partition or volume as one source, read from the
// volume's first byte: a window of its disk for a plain partition, the
// members' extents for a composite volume.
#include <memory>
#include <string>

#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// Opens the disk (or image) read-only; null with error set when it cannot be.
std::unique_ptr<ByteSource> OpenDiskSource(const DiskRecord& disk, std::string* error = nullptr);

// The device a plain partition lies on: its own device path when a reader
// set one (HFS, volume managers), else its disk's.
const std::string& PartitionDevicePath(const DiskRecord& disk, const PartitionRecord& partition);

// Opens what the partition's sector numbers count in: for a plain partition
// the whole device it lies on (its stored sectors are absolute there), for a
// composite volume the volume itself (whose sectors start at 0). The readers
// and the save engines read a partition through this. Null with error set
// when it cannot be opened.
std::unique_ptr<ByteSource> OpenPartitionSource(const DiskRecord& disk, const PartitionRecord& partition,
                                                std::string* error = nullptr);

// Opens partition of disk. Plain partitions: the disk's bytes from the
// partition's start sector for its sector count, in the disk's sector size.
// Composite volumes: every member with a path is opened (a member that cannot
// be opened counts as missing; a parity volume still reads with one missing).
// Null with error set when the disk, or every member, cannot be opened.
std::unique_ptr<ByteSource> OpenVolumeSource(const DiskRecord& disk, const PartitionRecord& partition,
                                             std::string* error = nullptr);

// The composite volume of partition over the given member sources (same
// order as partition.members; null entries are missing members).
std::unique_ptr<ByteSource> MakeCompositeSource(const PartitionRecord& partition,
                                                const std::vector<SharedSource>& memberSources);

}  // namespace quorvel

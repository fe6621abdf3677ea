#pragma once
// The scan-result file: one disk's scan results as text, one value per line,
// CR LF line ends, written in UTF-8 (files written on a Chinese Windows system
// in code page 936 are read too). In order: the disk's identity text; the
// directory sectors, the MFT fragments and the carved files, each as a count
// line and that many lines; eleven disk values; then a block per partition
// (with its members) and a block per LVM2 logical volume (with its segments).
#include <cstddef>
#include <cstdint>

namespace quorvel {

constexpr const char* kScanFileExtension = "rvz_scn";
constexpr const char* kScanFileLineEnd = "\r\n";
constexpr const char* kPartitionMark = "-----partition-----";
constexpr const char* kLogicalVolumesMark = "-----Logical_Volumes-----";
constexpr const char* kSegmentMark = "-----Segment-----";

// Between the disk values and the first partition block, where readers skip
// whatever is not a block's mark: one line per partition whose geometry the
// scans or readers found beyond the partition block's seventeen values,
// "#partition-cache,INDEX,FAT_SECTORS,MFT_START_SECTOR" with INDEX counting
// the partition blocks from 0. Without it a volume the deep scan rebuilt
// from FAT copies could not be read again from the file.
constexpr const char* kPartitionCacheTag = "#partition-cache";

// Lines of a partition block (after its mark) and of the blocks inside it.
constexpr int kPartitionLines = 17;
constexpr int kMemberLines = 5;
constexpr int kLogicalVolumeLines = 8;
constexpr int kSegmentLines = 6;
constexpr int kDiskValueLines = 11;

// What a file may make the reader hold, whatever its counts say: a
// partition block allocates a whole record, so a hostile file of short lines
// must not turn into gigabytes of them. Real disks stay far below.
constexpr size_t kMaxScanFilePartitions = 65536;
constexpr size_t kMaxScanFileMembers = 256;  // ordinals are bytes
constexpr size_t kMaxScanFileLogicalVolumes = 65536;
constexpr size_t kMaxScanFileSegments = 1 << 20;  // over all logical volumes
// A longer line is cut here (names and paths are far shorter).
constexpr size_t kMaxScanFileLine = 64 * 1024;
// Sector numbers and counts beyond this are damage: 2^48 sectors are 128 PiB,
// and every byte offset computed from them stays inside 64 bits.
constexpr uint64_t kMaxScanFileSector = uint64_t{1} << 48;

}  // namespace quorvel

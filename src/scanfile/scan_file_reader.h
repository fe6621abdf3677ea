#pragma once
// Reading a scan-result file into records, without touching any disk: what
// `scan-file show` prints and what loading applies to a disk.
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

enum class ScanFileEncoding { kUtf8, kGb18030 };

// Something in the file that is not as the format has it.
struct ScanFileProblem {
  uint64_t line = 0;  // 1-based; 0 for the file as a whole
  std::string what;
};

// The disk a file is read for, as far as its sector ranges go: every range
// the file holds (directory sectors, MFT fragments, carved files, plain
// partitions) is cut to the disk's end when it is read, so that nothing
// later sweeps terabytes of a 90 MiB disk because a length read as -1.
struct ScanFileDiskBounds {
  uint64_t bytes = 0;  // the disk's size; 0: not known, nothing is cut
  // Plain partitions (start, count) that the disk's own tables list: kept as
  // they are, also where they reach past its end (an image cut short).
  std::set<std::pair<uint64_t, uint64_t>> listed;

  // The bounds of a physical disk or image; a dynamic-disk group's sectors
  // count in its volumes, and are not cut.
  static ScanFileDiskBounds Of(const DiskRecord& disk);
};

struct ScanFileContents {
  std::string identity;  // line 1: the disk the file was written for
  // The file's values in a record of their own: the three collections, the
  // disk values (kind, identifiers, LVM2 extents, reserved values), the
  // partitions with their members and the LVM2 logical volumes.
  DiskRecord values;
  ScanFileEncoding encoding = ScanFileEncoding::kUtf8;
  // How far the file was read whole: the three collections, the eleven disk
  // values (after which the partition and logical-volume blocks follow).
  bool collectionsRead = false;
  bool diskValuesRead = false;
  // Reading stopped after line 1: it named another disk.
  bool otherDisk = false;
  std::vector<ScanFileProblem> problems;  // the first few
  uint64_t problemCount = 0;
  // Ranges that reached past the disk's end: cut to it, or left out when
  // they begin past it (each is one of the problems too).
  uint64_t clippedRanges = 0;

  bool Damaged() const { return problemCount != 0; }
};

// Reads the file. With expectedIdentity, reading ends after line 1 when that
// line names another disk (otherDisk set). Damage never stops the reading:
// an element, member, partition or logical volume that is not whole is left
// out and noted, the rest is read on to the end of the file. Memory stays
// within a bound of the file's size whatever its counts say. Ranges are cut
// to bounds (when its size is known) and each cut noted. A partition of 0
// bytes per sector or 0 sectors per cluster is left out.
void ReadScanFile(const ByteSource& file, ScanFileContents& out, const std::string* expectedIdentity = nullptr,
                  const ScanFileDiskBounds& bounds = ScanFileDiskBounds());

// The first problem as "line N: what", and how many more (empty when there
// is none).
std::string ScanFileProblemText(const std::vector<ScanFileProblem>& problems, uint64_t problemCount);

}  // namespace quorvel

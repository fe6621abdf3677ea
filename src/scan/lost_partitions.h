#pragma once
// The lost-partition scan: finds NTFS, FAT32 and FAT16 volumes that the
// partition tables no longer list by their boot sectors on the raw disk (and,
// for NTFS, by the MFT that proves a boot sector genuine), and adds each one
// to the disk as a PartitionRecord of origin 2, ready to be expanded, scanned
// and saved from like a partition from a table.
#include <cstdint>
#include <string>
#include <vector>

#include "core/scan_progress.h"
#include "model/disk_records.h"

namespace quorvel {

enum LostScanMode : int {
  kQuickLostScan = 0,    // probes at each cylinder's start and 63 sectors into it
  kPreciseLostScan = 2,  // every sector of the disk, in 10 MiB blocks
};

// What one scan did, for the faces and the benchmarks.
struct LostScanReport {
  struct Found {
    std::string name;         // the added record's name
    std::string description;  // the line the scan put into the progress text
  };
  std::vector<Found> found;  // in the order they were added
  uint64_t reads = 0;        // read calls on the disk (labels not counted)
  uint64_t bytesRead = 0;
  bool stopped = false;  // the stop flag ended the scan early
  std::string error;     // why the disk could not be opened
};

// Runs the three chained searches (forward from the disk's start, backward
// from its end through backup boot sectors, the MFT at its default place),
// then the quick or the precise pass. tracksPerCylinder, when not 0, replaces
// the disk's for the quick pass's cylinders. Returns false when the disk
// cannot be opened or the precise pass was stopped; a stopped quick pass
// returns true. What was added before a stop stays on the disk.
bool ScanLostPartitions(DiskRecord& disk, LostScanMode mode, uint32_t tracksPerCylinder, ScanProgress& progress,
                        LostScanReport* report = nullptr);

// Appends record to the disk as a found volume (origin 2) named
// "Partition%d" after the number of partitions the disk lists, unless a plain
// partition of the same file-system family already starts at the same
// sector. A dropped record uses up no number. Returns the added record, or
// null when it was dropped.
PartitionRecord* AddFoundPartition(DiskRecord& disk, PartitionRecord record);

// True when two FsKinds name the same file system (0x07/0x0D, 0x0B/0x0C,
// 0x04/0x06/0x0E), or are equal.
bool SameFsFamily(uint8_t a, uint8_t b);

// Partitions of the disk found by a scan rather than a table (origin not 0).
int CountFoundPartitions(const DiskRecord& disk);
// "正在扫描，请稍等..." while none is found, else "已经找到%d个分区,继续扫描,稍等...".
std::string FoundPartitionCountText(int count);

}  // namespace quorvel

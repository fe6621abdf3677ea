#pragma once
// Turning FAT directory data into FatFileEntry children of a folder, in use
// and deleted alike, and descending into subfolders.
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "core/scan_progress.h"
#include "io/sector_device.h"
#include "model/disk_records.h"

namespace quorvel {

// Clusters already read as directory data during one run.
using VisitedClusterSet = std::set<uint32_t>;

// Deeper folders are listed but not opened: a corrupt volume must not be able
// to exhaust the stack.
constexpr int kMaxFolderDepth = 256;
// A FAT folder holds at most 65536 entries.
constexpr size_t kMaxDirectoryBytes = 65536 * 32;

// Both parse one directory (a FAT16 root directory, or one cluster of a
// subfolder) into `parent` and descend into its subfolders through the
// in-memory FAT. `device` is null for composite volumes. `counter` counts the
// folders read ("%d 项被找到"). Return false when the stop flag ended the parse
// (every caller up the recursion returns at once).
bool ParseFat32Directory(SectorDevice* device, const uint8_t* data, size_t length, FatFileEntry& parent,
                         PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                         uint32_t& counter);
bool ParseFat16Directory(SectorDevice* device, const uint8_t* data, size_t length, FatFileEntry& parent,
                         PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                         uint32_t& counter);

// The shared walk behind the four parser variants.
struct FatParseOptions {
  bool fat32 = true;
  // Set for the recorded-sector variants: the FAT is never used, subfolders
  // are checked by their "." entry, and deleted files release the carved
  // copy that starts at their first cluster.
  DiskRecord* recordedDisk = nullptr;
};
bool ParseFatDirectory(const FatParseOptions& options, SectorDevice* device, const uint8_t* data, size_t length,
                       FatFileEntry& parent, PartitionRecord& partition, VisitedClusterSet& visited,
                       ScanProgress& progress, uint32_t& counter, int depth);

// Number of FAT entries: FAT size x 512 / 4 (FAT32) or / 2 (FAT16).
uint32_t FatEntryCount(const PartitionRecord& partition, bool fat32);

// Reads `length` bytes at an absolute 512-byte sector (relative to the
// volume's start for composite volumes). The buffer is zero-filled first.
bool ReadFatSectors(const PartitionRecord& partition, SectorDevice* device, uint64_t absoluteSector, uint8_t* buffer,
                    size_t length);
// Reads one cluster at DataOrigin + cluster x sectors per cluster into buffer
// (resized to the cluster's size).
bool ReadFatCluster(const PartitionRecord& partition, SectorDevice* device, uint32_t cluster,
                    std::vector<uint8_t>& buffer);

// Places a filled temporary in the tree (folders in front, files at the back)
// and in the cluster and name indexes; returns the entry inside the tree.
FatFileEntry* PlaceFatEntry(FileTree& tree, FatFileEntry& parent, const FatFileEntry& entry);

// Adds one found folder to the counter, the progress text and the bar; true
// when the run may go on.
bool CountFoundFolder(ScanProgress& progress, uint32_t& counter);

}  // namespace quorvel

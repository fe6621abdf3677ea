#pragma once
// Turning FAT directory data into FatFileEntry children of a folder, in use
// and deleted alike, and descending into subfolders.
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "core/byte_view.h"
#include "core/scan_progress.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// The FAT reader reads volumes with 512-byte sectors only (the boot-sector
// tests require them) and sets partition.bytesPerSector to this.
constexpr uint32_t kFatSectorSize = 512;

// Clusters already read as directory data during one run.
using VisitedClusterSet = std::set<uint32_t>;

// Deeper folders are listed but not opened: a corrupt volume must not be able
// to exhaust the stack.
constexpr int kMaxFolderDepth = 256;
// A FAT folder should hold at most 65536 entries, but mtools writes longer
// ones: a chain is parsed in pieces of at most this size, which keeps a
// hostile chain's memory bounded.
constexpr size_t kMaxDirectoryBytes = 65536 * 32;

// How many bytes at the end of a piece of folder data are long-name entries
// whose short entry has not been read yet (at most one run's worth). They
// start the next piece, so a name that crosses the cut stays whole.
size_t UnfinishedLongNameBytes(ByteView data);

// Both parse one directory (a FAT16 root directory, or one cluster of a
// subfolder) into `parent` and descend into its subfolders through the
// in-memory FAT, reading their clusters from `source` (what the partition's
// sectors count in, io/volume_source.h). `counter` counts the folders read
// ("%d 项被找到"). Return false when the stop flag ended the parse (every
// caller up the recursion returns at once).
bool ParseFat32Directory(const ByteSource& source, ByteView data, FatFileEntry& parent, PartitionRecord& partition,
                         VisitedClusterSet& visited, ScanProgress& progress, uint32_t& counter);
bool ParseFat16Directory(const ByteSource& source, ByteView data, FatFileEntry& parent, PartitionRecord& partition,
                         VisitedClusterSet& visited, ScanProgress& progress, uint32_t& counter);

// The shared walk behind the four parser variants.
struct FatParseOptions {
  bool fat32 = true;
  // Set for the recorded-sector variants: the FAT is never used, subfolders
  // are checked by their "." entry, and deleted files release the carved
  // copy that starts at their first cluster.
  DiskRecord* recordedDisk = nullptr;
};
bool ParseFatDirectory(const FatParseOptions& options, const ByteSource& source, ByteView data, FatFileEntry& parent,
                       PartitionRecord& partition, VisitedClusterSet& visited, ScanProgress& progress,
                       uint32_t& counter, int depth);

// Number of FAT entries: FAT size x 512 / 4 (FAT32) or / 2 (FAT16).
uint32_t FatEntryCount(const PartitionRecord& partition, bool fat32);

// Reads buffer.size() bytes at an absolute 512-byte sector (relative to the
// volume's start for composite volumes); returns the bytes read, the rest
// of buffer zero-filled.
size_t ReadFatSectors(const ByteSource& source, uint64_t absoluteSector, std::span<uint8_t> buffer);
// Reads one cluster at DataOrigin + cluster x sectors per cluster into buffer
// (resized to the cluster's size); returns the bytes read.
size_t ReadFatCluster(const ByteSource& source, const PartitionRecord& partition, uint32_t cluster,
                      std::vector<uint8_t>& buffer);

// Places a filled temporary in the tree (folders in front, files at the back)
// and in the cluster indexes; returns the entry inside the tree.
FatFileEntry* PlaceFatEntry(FileTree& tree, FatFileEntry& parent, FatFileEntry entry);

// Adds one found folder to the counter, the progress text and the bar; true
// when the run may go on.
bool CountFoundFolder(ScanProgress& progress, uint32_t& counter);

}  // namespace quorvel

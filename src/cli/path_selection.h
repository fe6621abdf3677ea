#pragma once
// Paths as `quorvel ls` prints them ("根目录/docs/a.txt", "Extra Found Files",
// "Extra Found Files/f0001.jpg"), resolved to the entries of a read
// partition and to the selection `save` and `cat` hand the save engines.
#include <cstdint>
#include <string>
#include <vector>

#include "model/disk_records.h"
#include "save/save_types.h"

namespace quorvel::cli {

// One entry a path names.
struct PathMatch {
  const void* entry = nullptr;       // the FatFileEntry or NtfsFileEntry
  std::vector<const void*> folders;  // the folders above it, from the special folder down
  bool carvedFolder = false;         // "Extra Found Files" itself
  bool carvedFile = false;           // one carved file, at carvedSector
  uint64_t carvedSector = 0;
  uint64_t id = 0;    // the number `ls` shows (cluster, record, start sector)
  uint64_t size = 0;  // bytes, as `ls` shows it
  bool folder = false;
};

// Every entry of the partition's tree (or carved file inside it) that path
// names; several when names repeat (deleted entries often do). With
// carvedOnly only carved files are looked at (a whole-disk deep scan).
std::vector<PathMatch> MatchPath(const std::string& path, const DiskRecord& disk, const PartitionRecord& partition,
                                 bool carvedOnly);

// The selection elements for matches, in tree order; an entry inside another
// matched one is saved with it, once. No matches: the whole tree and the
// carved files inside the partition.
std::vector<SelectedEntry> SelectMatches(const std::vector<PathMatch>& matches, const DiskRecord& disk,
                                         PartitionRecord& partition, bool carvedOnly, bool wholeTree);

}  // namespace quorvel::cli

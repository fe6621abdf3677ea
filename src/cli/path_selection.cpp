#include "cli/path_selection.h"

#include <set>
#include <variant>

#include "recover/partition_launch.h"
#include "save/save_job.h"

namespace quorvel::cli {

namespace {

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

uint64_t NumberOf(const FatFileEntry& e) { return e.firstCluster; }
uint64_t NumberOf(const NtfsFileEntry& e) { return e.recordNumber; }

// Depth first over every entry that matches the names so far; the chain holds
// the matched folders above.
template <typename Entry>
void MatchTree(const std::vector<const Entry*>& specials, const std::vector<std::string>& parts,
               std::vector<PathMatch>& matches) {
  std::vector<const void*> chain;
  auto walk = [&](auto&& self, const Entry& entry, size_t depth) -> void {
    if (entry.name != parts[depth]) return;
    if (depth + 1 == parts.size()) {
      PathMatch match;
      match.entry = &entry;
      match.folders = chain;
      match.id = NumberOf(entry);
      match.size = entry.size;
      match.folder = IsFolderState(entry.state());
      matches.push_back(std::move(match));
      return;
    }
    chain.push_back(&entry);
    for (const Entry& child : entry.children) self(self, child, depth + 1);
    chain.pop_back();
  };
  for (const Entry* special : specials)
    if (special->state() != kNoState) walk(walk, *special, 0);
}

}  // namespace

std::vector<PathMatch> MatchPath(const std::string& path, const DiskRecord& disk, const PartitionRecord& partition,
                                 bool carvedOnly) {
  std::vector<PathMatch> matches;
  const std::vector<std::string> parts = SplitPath(path);
  if (parts.empty()) return matches;
  if (!disk.extraFoundFiles.name.empty() && parts[0] == disk.extraFoundFiles.name) {
    if (parts.size() == 1) {
      PathMatch folder;
      folder.carvedFolder = true;
      folder.folder = true;
      matches.push_back(folder);
    } else if (parts.size() == 2) {
      for (auto it = disk.carvedFiles.lower_bound(partition.startSector);
           it != disk.carvedFiles.end() && it->first - partition.startSector < partition.sectorCount; ++it) {
        if (it->second.name != parts[1]) continue;
        PathMatch file;
        file.carvedFile = true;
        file.carvedSector = file.id = it->first;
        file.size = it->second.size;
        matches.push_back(file);
      }
    }
    return matches;
  }
  if (carvedOnly) return matches;
  const FileTree& tree = *partition.tree;
  if (SaveEngineModeForFsKind(partition.fsKind) == kClusterMode)
    MatchTree<FatFileEntry>({&tree.fatRoot, &tree.fatLost}, parts, matches);
  else
    MatchTree<NtfsFileEntry>({&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension}, parts, matches);
  return matches;
}

std::vector<SelectedEntry> SelectMatches(const std::vector<PathMatch>& matches, const DiskRecord& disk,
                                         PartitionRecord& partition, bool carvedOnly, bool wholeTree) {
  FileTree& tree = *partition.tree;
  std::set<const void*> whole, part;
  bool carvedFolder = wholeTree;
  std::set<uint64_t> carvedStarts;
  if (wholeTree) {
    for (const void* special : {static_cast<const void*>(&tree.fatRoot), static_cast<const void*>(&tree.fatLost),
                                static_cast<const void*>(&tree.ntfsRoot), static_cast<const void*>(&tree.ntfsLost),
                                static_cast<const void*>(&tree.ntfsExtension)})
      whole.insert(special);
  }
  for (const PathMatch& match : matches) {
    if (match.carvedFolder) {
      carvedFolder = true;
    } else if (match.carvedFile) {
      carvedStarts.insert(match.carvedSector);
    } else {
      whole.insert(match.entry);
      part.insert(match.folders.begin(), match.folders.end());
    }
  }
  std::vector<SelectedEntry> entries;
  if (!carvedOnly) {
    entries = SelectEntries(partition, [&](FileEntryRef entry) {
      const void* at = std::visit([](auto* e) -> const void* { return e; }, entry);
      if (whole.count(at)) return Pick::kWhole;
      return part.count(at) ? Pick::kPart : Pick::kNone;
    });
  }
  if (carvedFolder && CarvedFilesInsidePartition(disk, partition)) {
    entries.push_back(CarvedFolderEntry());
  } else {
    for (uint64_t start : carvedStarts) entries.push_back(CarvedFileEntry(start));
  }
  return entries;
}

}  // namespace quorvel::cli

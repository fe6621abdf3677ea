#include "recover/entry_lookup.h"

namespace quorvel {

namespace {

bool FatMatches(const FatFileEntry* entry, const std::string& name, const std::string& creationText) {
  return entry->name == name && FormatDosTime(entry->creationDate, entry->creationTime) == creationText;
}

bool NtfsMatches(const NtfsFileEntry* entry, const std::string& name, const std::string& creationText) {
  return entry->name == name && FormatFileTime(entry->creationTime) == creationText;
}

FatFileEntry* FirstMatch(const ClusterIndex& index, uint32_t cluster, auto match) {
  for (const auto& [key, entry] : index)
    if (key == cluster && match(entry)) return entry;
  return nullptr;
}

NtfsFileEntry* FirstMatch(const PlaceholderByNumberMap& index, uint64_t number, auto match) {
  auto range = index.equal_range(number);
  for (auto it = range.first; it != range.second; ++it)
    if (match(it->second)) return it->second;
  return nullptr;
}

}  // namespace

FatFileEntry* FindFatEntryForRow(PartitionRecord& partition, uint64_t number, const std::string& name,
                                 const std::string& creationText) {
  // FAT cluster numbers are 32-bit: a larger number names no entry.
  if (number > 0xFFFFFFFFull) return nullptr;
  FileTree& tree = *partition.tree;
  auto match = [&](const FatFileEntry* e) { return FatMatches(e, name, creationText); };
  const auto cluster = static_cast<uint32_t>(number);
  if (FatFileEntry* found = FirstMatch(tree.NormalEntryByCluster, cluster, match)) return found;
  return FirstMatch(tree.DeletedEntryByCluster, cluster, match);
}

NtfsFileEntry* FindNtfsEntryForRow(PartitionRecord& partition, uint64_t number, const std::string& name,
                                   const std::string& creationText) {
  FileTree& tree = *partition.tree;
  NtfsFileEntry* entry = tree.EntryByNumber.Find(number);
  if (entry && NtfsMatches(entry, name, creationText)) return entry;
  auto match = [&](const NtfsFileEntry* e) { return NtfsMatches(e, name, creationText); };
  return FirstMatch(tree.PlaceholderByNumber, number, match);
}

std::optional<FileEntryRef> FindEntryForRow(DiskList& list, const EntryRowKey& key) {
  for (DiskRecord& disk : list) {
    if (disk.Identity() != key.diskName) continue;
    for (PartitionRecord& partition : disk.partitions) {
      if (partition.name != key.partitionName &&
          (partition.driveLetter.empty() || partition.driveLetter != key.partitionName))
        continue;
      if (IsNtfsKind(partition.fsKind)) {
        if (NtfsFileEntry* e = FindNtfsEntryForRow(partition, key.number, key.name, key.creationText)) return e;
      } else if (IsFat16Kind(partition.fsKind) || IsFat32Kind(partition.fsKind)) {
        if (FatFileEntry* e = FindFatEntryForRow(partition, key.number, key.name, key.creationText)) return e;
      }
      return std::nullopt;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace quorvel

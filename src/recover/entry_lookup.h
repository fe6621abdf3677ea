#pragma once
// Finding the entry behind a file-list row from the texts the row shows.
#include <cstdint>
#include <optional>
#include <string>

#include "model/disk_records.h"

namespace quorvel {

// What a row of the file list identifies an entry by.
struct EntryRowKey {
  std::string diskName;       // the disk's identity text
  std::string partitionName;  // the partition's name or drive text
  uint64_t number = 0;        // first cluster (FAT) or record number (NTFS)
  std::string name;
  std::string creationText;  // the creation time as the row shows it
};

// The FAT form (FAT16/FAT32 kinds) looks in NormalEntryByCluster, then in
// DeletedEntryByCluster; the NTFS form in EntryByNumber, then in
// PlaceholderByNumber. The first entry with the same name and creation-time
// text wins; none when the disk, partition or entry is not there.
std::optional<FileEntryRef> FindEntryForRow(DiskList& list, const EntryRowKey& key);

// The same search inside one partition.
FatFileEntry* FindFatEntryForRow(PartitionRecord& partition, uint64_t number, const std::string& name,
                                 const std::string& creationText);
NtfsFileEntry* FindNtfsEntryForRow(PartitionRecord& partition, uint64_t number, const std::string& name,
                                   const std::string& creationText);

}  // namespace quorvel

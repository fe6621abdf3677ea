#pragma once
// Printing a partition's file tree (what `ls` shows) as an indented table or
// as the documented JSON.
#include <cstdio>
#include <string>

#include "model/disk_records.h"

namespace quorvel::cli {

// The form of the tree a reader filled: FAT kinds use the FAT special
// folders, NTFS kinds the NTFS ones.
bool PartitionUsesNtfsTree(const PartitionRecord& partition);

// Prints every shown entry below the special folders that a reader marked
// ("根目录", "零散目录", and "扩展目录" when it has children), depth first in list
// order, then the carved files that start inside the partition under "Extra
// Found Files" (state 2, id = start sector, no times). JSON:
// {"disk","partition","fs","time_zone","complete","entries":[{"path","name",
// "state","state_text","size","id","parent_id","created","modified",
// "accessed","unreadable"}]}; times without a value are null. complete is
// false when the run that filled the tree was stopped.
void PrintPartitionTree(const DiskRecord& disk, const PartitionRecord& partition, bool json, FILE* out = stdout,
                        bool complete = true);

}  // namespace quorvel::cli

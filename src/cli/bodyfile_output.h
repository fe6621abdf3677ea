#pragma once
// A partition's tree in The Sleuth Kit's body format (3.x), the input of
// `mactime -b` for timelines: one line per entry,
//   MD5|name|inode|mode_as_string|UID|GID|size|atime|mtime|ctime|crtime
// with times as Unix seconds in UTC (0 where the file system keeps none).
#include <cstdint>
#include <cstdio>
#include <string>

#include "model/disk_records.h"

namespace quorvel::cli {

// Every entry below the special folders a reader marked, then the carved
// files inside the partition. Names are paths from "/" (the root folder);
// entries of the other special folders keep its name as the first part
// ("/零散目录/123/a.txt", "/Extra Found Files/f0001.jpg"); deleted entries end
// in " (deleted)" as fls writes them. inode is the number `ls` shows (FAT:
// first cluster, NTFS: record number, carved: start sector).
void PrintBodyfile(const DiskRecord& disk, const PartitionRecord& partition, FILE* out = stdout);

// A name made safe for one field: "|" and control characters become "^".
std::string BodyfileField(const std::string& text);

}  // namespace quorvel::cli

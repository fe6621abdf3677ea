#pragma once
// The disk listing `disks` prints, as a table or as JSON; shared with the
// commands that change a disk's partitions and show the result.
#include <string>
#include <vector>

#include "model/disk_records.h"

namespace quorvel::cli {

// Terminal columns a UTF-8 text takes: wide (CJK) characters count two.
size_t DisplayWidth(const std::string& text);

// Prints rows as columns padded to their widest cell; columns from
// firstRightAligned on line up on the right (numbers).
void PrintAlignedRows(const std::vector<std::vector<std::string>>& rows, size_t firstRightAligned);

// The documented `disks --json` document for the given disks.
std::string DisksJson(const std::vector<const DiskRecord*>& disks);

}  // namespace quorvel::cli

#pragma once
// A disk and its partitions as the disk page shows them: the table `disks`
// prints (and the scans with the origin of each partition), and the disk's
// JSON object. Shared by every command that shows a disk's partitions.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/json_writer.h"
#include "model/disk_records.h"

namespace quorvel::cli {

// Terminal columns a UTF-8 text takes: wide (CJK) characters count two.
size_t DisplayWidth(const std::string& text);

// Prints rows as columns padded to their widest cell; the columns from
// firstRightAligned up to endRightAligned line up on the right (numbers).
void PrintAlignedRows(const std::vector<std::vector<std::string>>& rows, size_t firstRightAligned,
                      size_t endRightAligned = SIZE_MAX, FILE* out = stdout);

// One row per disk, an indented row per partition; with withOrigin a column
// telling how each partition was found.
void PrintDiskTable(const std::vector<const DiskRecord*>& disks, bool withOrigin = false);

// {"identity","path","number","size","cylinders","tracks_per_cylinder",
// "sectors_per_track","kind","partitions":[...]}; extra adds fields before the
// object closes.
void WriteDiskJson(JsonWriter& json, const DiskRecord& disk, const std::function<void(JsonWriter&)>& extra = nullptr);

// The scans' disk-wide collections as fields of the disk's object:
// "carved":[{"start_sector","size","name"}], "mft_fragments":[{"start_sector",
// "sector_count"}], "directory_sectors":N.
void WriteScanCollectionsJson(JsonWriter& json, const DiskRecord& disk);

// The documented `disks --json` document for the given disks; after a scan,
// complete (false when it was stopped) comes first.
std::string DisksJson(const std::vector<const DiskRecord*>& disks, std::optional<bool> complete = std::nullopt);

// "分区表", "重建" or "引导扇区" by a partition's origin code.
const char* OriginText(int32_t originCode);

}  // namespace quorvel::cli

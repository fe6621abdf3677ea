#pragma once
// A disk and its partitions as the disk page shows them: the table `disks`
// prints (and `deep-scan` with the origin of each partition), and the disk's
// JSON object.
#include <functional>
#include <vector>

#include "cli/json_writer.h"
#include "model/disk_records.h"

namespace quorvel::cli {

// One row per disk, an indented row per partition; with withOrigin a column
// telling how each partition was found.
void PrintDiskTable(const std::vector<const DiskRecord*>& disks, bool withOrigin = false);

// {"identity","path","number","size","cylinders","tracks_per_cylinder",
// "sectors_per_track","kind","partitions":[...]}; extra adds fields before the
// object closes.
void WriteDiskJson(JsonWriter& json, const DiskRecord& disk, const std::function<void(JsonWriter&)>& extra = nullptr);

// "分区表", "重建" or "引导扇区" by a partition's origin code.
const char* OriginText(int32_t originCode);

}  // namespace quorvel::cli

#pragma once
// Where a scan-result file may be written: never over the source itself,
// and not onto the disk being recovered, where it could overwrite the very
// sectors the scan found.
#include <string>

#include "model/disk_records.h"

namespace quorvel {

enum class ScanFileTarget {
  kFine,
  kIsSource,     // the path is the disk's image or device (or a member's)
  kOnSource,     // the folder lies on the source disk or inside a mount of its image
  kNoFolder,     // the folder does not exist or is no folder
  kNotWritable,  // no file can be created in the folder
};

// Judges path for disk's scan-result file; why says what is wrong.
ScanFileTarget CheckScanFileTarget(const std::string& path, const DiskRecord& disk, std::string* why = nullptr);

}  // namespace quorvel

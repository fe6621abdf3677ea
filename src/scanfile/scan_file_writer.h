#pragma once
// Writing a disk's scan results to a scan-result file (scan_file_format.h).
#include <cstdint>
#include <string>

#include "model/disk_records.h"

namespace quorvel {

enum class ScanFileSaveStatus {
  kSaved,
  kCannotCreate,  // the file (or its temporary twin) could not be created
  kWriteFailed,   // writing or closing failed (disk full, I/O error); an older file stays as it was
};

struct ScanFileSaveResult {
  ScanFileSaveStatus status = ScanFileSaveStatus::kSaved;
  std::string error;  // the system's reason on failure
  uint64_t bytes = 0;
};

// The whole file's text for disk: every section in order, CR LF line ends.
// A CR or LF inside a text becomes a space, so no value can shift the
// lines after it.
std::string ScanResultText(const DiskRecord& disk);

// Writes the file at path: first under a temporary name beside it, which
// replaces path only once everything is written and flushed, so a failed
// save never leaves a half-written file where an older one was.
ScanFileSaveResult SaveScanResult(const DiskRecord& disk, const std::string& path);

}  // namespace quorvel

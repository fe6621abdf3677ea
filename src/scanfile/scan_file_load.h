#pragma once
// Loading a scan-result file onto the disk it was written for: what an
// earlier scan found comes back without scanning again.
#include <cstdint>
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "model/disk_records.h"
#include "scanfile/scan_file_reader.h"

namespace quorvel {

enum class ScanFileLoadStatus {
  kLoaded,
  kDamaged,     // what was read whole is loaded; problems say what was not
  kOtherDisk,   // written for another disk: nothing changed
  kCannotOpen,  // nothing changed
};

struct ScanFileLoadResult {
  ScanFileLoadStatus status = ScanFileLoadStatus::kLoaded;
  std::string error;         // kCannotOpen: why
  std::string fileIdentity;  // the disk the file names (kOtherDisk included)
  ScanFileEncoding encoding = ScanFileEncoding::kUtf8;
  std::vector<ScanFileProblem> problems;  // the first few
  uint64_t problemCount = 0;
  uint64_t clippedRanges = 0;  // ranges cut to the disk's end (or left out past it)
  // What the disk holds from the file now.
  bool partitionsReplaced = false;
  size_t partitions = 0;
  size_t logicalVolumes = 0;
  size_t directorySectorsAdded = 0;
  size_t mftFragmentsAdded = 0;
  size_t carvedFilesAdded = 0;
};

// Loads the file at path onto disk. Line 1 must be the disk's identity text
// (and the file's disk kind, when it was read, the disk's kind); otherwise
// nothing changes. The partitions and LVM2 logical volumes are replaced by
// the file's (only when the file was read up to them); the directory
// sectors, MFT fragments and carved files are merged in, those already there
// staying as they are. Device paths in the file name the devices of the
// session that wrote it: a disk's own partitions are given the disk's path
// now, and a dynamic-disk group's members the paths of the member disks now
// present. Volume-manager details the file does not hold are kept from the
// partition the disk lists at the same place under the same name. Sector
// ranges are cut to the disk's end (ScanFileDiskBounds), each cut reported
// as damage.
ScanFileLoadResult LoadScanResult(DiskRecord& disk, const std::string& path);
ScanFileLoadResult LoadScanResult(DiskRecord& disk, const ByteSource& file);

}  // namespace quorvel

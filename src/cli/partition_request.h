#pragma once
// The partition `ls`, `save` and `cat` work on and how its tree is read: the
// SOURCE... [PARTITION] arguments, the scans that may run first
// (--format-scan, --deep-scan, --lost-partitions), the earlier scan's result
// file that may be loaded first (--scan) and the tree they lead to.
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "cli/lost_partition_run.h"
#include "cli/scan_file_option.h"
#include "model/disk_records.h"

namespace quorvel::cli {

struct PartitionRequest {
  std::vector<std::string> sources;
  // Empty only with --deep-scan, or --scan and one SOURCE: the carved files
  // of the whole disk.
  std::string partition;
  bool formatScan = false;
  bool deepScan = false;
  LostScanOption lostScan;
  ScanFileOption scanFile;  // marked damaged when a damaged file was loaded
  bool quiet = false;
};

// Reads SOURCE... PARTITION from the positional arguments, leaving `trailing`
// more at their end (cat's PATH), and the scan options. kExitDone, or
// kExitUsage after saying why.
int ResolvePartitionRequest(const char* commandName, const ParsedArgs& parsed, size_t trailing,
                            PartitionRequest& request);

// Opens the sources, runs the deep or lost-partition scan when asked and
// finds PARTITION; its tree is not read yet. Without PARTITION, partition is
// wholeDisk (WholeDiskRange). kExitDone, kExitStopped, kExitNotFound or
// kExitUsage, the reason printed.
int OpenRequestedPartition(PartitionRequest& request, DiskList& list, DiskRecord*& disk, PartitionRecord*& partition,
                           PartitionRecord& wholeDisk);

// Reads the partition's tree as the request asks (as it stands, its format
// recovery, or the rebuild a deep scan or a loaded scan file allows).
int ReadRequestedTree(const PartitionRequest& request, DiskRecord& disk, PartitionRecord& partition);

}  // namespace quorvel::cli

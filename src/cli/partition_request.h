#pragma once
// The partition `ls`, `save` and `cat` work on and how its tree is read: the
// SOURCE... [PARTITION] arguments, the scans that may run first
// (--format-scan, --deep-scan, --lost-partitions) and the tree they lead to.
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "cli/lost_partition_run.h"
#include "model/disk_records.h"

namespace quorvel::cli {

struct PartitionRequest {
  std::vector<std::string> sources;
  std::string partition;  // empty only with --deep-scan: the carved files of the whole disk
  bool formatScan = false;
  bool deepScan = false;
  LostScanOption lostScan;
  bool quiet = false;
};

// Reads SOURCE... PARTITION from the positional arguments, leaving `trailing`
// more at their end (cat's PATH), and the scan options. kExitDone, or
// kExitUsage after saying why.
int ResolvePartitionRequest(const char* commandName, const ParsedArgs& parsed, size_t trailing,
                            PartitionRequest& request);

// Opens the sources, runs the deep or lost-partition scan when asked and
// finds PARTITION; its tree is not read yet. After a deep scan without
// PARTITION, partition is wholeDisk (WholeDiskRange). kExitDone,
// kExitStopped, kExitNotFound or kExitUsage, the reason printed.
int OpenRequestedPartition(const PartitionRequest& request, DiskList& list, DiskRecord*& disk,
                           PartitionRecord*& partition, PartitionRecord& wholeDisk);

// Reads the partition's tree as the request asks (as it stands, its format
// recovery, or the deep scan's rebuild).
int ReadRequestedTree(const PartitionRequest& request, DiskRecord& disk, PartitionRecord& partition);

}  // namespace quorvel::cli

#pragma once
// Running a partition command from the command line: on a worker thread like
// the GUI does, with the terminal progress bar and Ctrl-C wired to the stop flag.
#include <string>

#include "recover/deep_scan_launch.h"
#include "recover/partition_launch.h"

namespace quorvel::cli {

// Runs one command to its end. Returns kExitDone, kExitStopped (Ctrl-C; what
// was found stays in the records) or kExitNotFound (refused or unreadable;
// the reason is printed on stderr). result, when given, receives the run's
// result.
int RunPartitionCommand(PartitionCommand command, DiskRecord& disk, PartitionRecord& partition, bool quiet,
                        PartitionRunResult* result = nullptr);

// Format recovery as `ls --format-scan` and `save --format-scan` need it: the
// format-information scan, which for FAT rebuilds the old folders from the
// directory sectors it recorded (also after a Ctrl-C during the sweep, so what
// the sweep found is shown). The partition's tree is then ready to print.
// Returns kExitStopped when the run was stopped.
int RunFormatRecovery(DiskRecord& disk, PartitionRecord& partition, bool quiet);

// Which tree a listing command shows: the partition as it stands, its
// format recovery, or (after a deep scan) the folders rebuilt from what the
// scan recorded.
enum class TreeSource { kAsItStands, kFormatRecovery, kDeepScanResult };
// Reads the partition's tree that way; as RunPartitionCommand.
int ReadPartitionTree(DiskRecord& disk, PartitionRecord& partition, TreeSource source, bool quiet);

// Runs the deep scan over the partition, or the whole disk without one, on a
// worker thread with the progress bar and Ctrl-C. Returns kExitDone,
// kExitStopped (what was found stays in the disk's records) or kExitNotFound
// (refused or unreadable; the reason is printed on stderr).
int RunDeepScanCommand(DiskRecord& disk, PartitionRecord* partition, bool quiet, DeepScanOutcome* outcome = nullptr);

// `ls` and `save` with --deep-scan: a PARTITION listed before the scan is
// scanned on its own; otherwise the whole disk is scanned and PARTITION is
// looked up among the partitions listed after it (an empty PARTITION stays
// none). Returns kExitDone, kExitStopped, or kExitNotFound with the reason on
// stderr.
int DeepScanForPartition(DiskRecord& disk, const std::string& partitionText, bool quiet, PartitionRecord*& partition);

// Stands for the whole disk where a partition is expected: its carved files
// are listed and saved through it. Not added to the disk.
PartitionRecord WholeDiskRange(const DiskRecord& disk);

}  // namespace quorvel::cli

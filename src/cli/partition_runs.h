#pragma once
// Running a partition command from the command line: on a worker thread like
// the GUI does, with the terminal progress bar and Ctrl-C wired to the stop flag.
#include "recover/partition_launch.h"

namespace quorvel::cli {

// Runs one command to its end. Returns kExitDone, kExitStopped (Ctrl-C; what
// was found stays in the records) or kExitNotFound (refused or unreadable;
// the reason is printed on stderr). result, when given, receives the run's
// result.
int RunPartitionCommand(PartitionCommand command, DiskRecord& disk, PartitionRecord& partition, bool quiet,
                        PartitionRunResult* result = nullptr);

// Format recovery as `ls --format-scan` and `save --format-scan` need it: the
// format-information scan, then for FAT the expansion that rebuilds the old
// folders from the recorded directory sectors (also after a Ctrl-C during the
// sweep, so what the sweep found is shown). The partition's tree is then
// ready to print. Returns kExitStopped when either step was stopped.
int RunFormatRecovery(DiskRecord& disk, PartitionRecord& partition, bool quiet);

}  // namespace quorvel::cli

#pragma once
// The lost-partition scan on the command line: for `lost-partitions`, and
// for `ls` and `save`, whose --lost-partitions[=precise] runs the scan first
// so that a found partition can be listed or saved in the same command.
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "cli/scan_file_option.h"
#include "scan/lost_partitions.h"

namespace quorvel::cli {

// Runs the scan with the terminal progress bar (the count of found
// partitions as its text) and Ctrl-C wired to the stop flag. Returns
// kExitDone, kExitStopped (what was found stays on the disk) or kExitNotFound
// (the disk could not be read; the reason is printed on stderr).
int RunLostPartitionScan(DiskRecord& disk, LostScanMode mode, uint32_t tracksPerCylinder, bool quiet,
                         LostScanReport* report = nullptr);

// The --lost-partitions option of `ls` and `save`.
struct LostScanOption {
  bool requested = false;
  LostScanMode mode = kQuickLostScan;
};
// The option's entry in a command's options table, explained by text.
OptionSpec LostScanOptionSpec(const char* text);
// Reads the option from parsed; false with error set on a value other than
// "quick" or "precise".
bool ParseLostScanOption(const ParsedArgs& parsed, LostScanOption& option, std::string& error);

// OpenSourcesPartition, or with the scan in between when option asks for it
// (one source only). A given scan file is loaded first (onto the source
// before a scan). Returns kExitDone, kExitStopped, kExitNotFound or
// kExitUsage.
int OpenSourcePartitionAfterScan(const std::vector<std::string>& sources, const std::string& partitionText,
                                 const LostScanOption& option, bool quiet, DiskList& list, DiskRecord*& disk,
                                 PartitionRecord*& partition, ScanFileOption* scanFile = nullptr);

}  // namespace quorvel::cli

#pragma once
// Scan-result files on the command line: --scan FILE loads one onto the disk
// it was written for before a command works on that disk; --save-scan FILE
// writes the disk's results after a scan.
#include <string>
#include <vector>

#include "cli/cli_source.h"
#include "model/disk_records.h"

namespace quorvel::cli {

struct ScanFileOption {
  std::string path;      // empty: not given
  bool damaged = false;  // a load found damage: the command ends with kExitNotFound
  bool given() const { return !path.empty(); }
};

// Loads option.path onto the first of candidates whose identity the file
// names; says on stderr what was loaded or why nothing was. kExitDone (also
// for a damaged file, whose whole parts are loaded: option.damaged is set),
// or kExitNotFound when no candidate is the file's disk or the file cannot
// be read. loadedOnto receives the disk.
int LoadScanFileOnto(ScanFileOption& option, const std::vector<DiskRecord*>& candidates,
                     DiskRecord** loadedOnto = nullptr);

// SOURCE, then the scan file onto it (only onto it: scans that follow work
// on that disk). kExitDone or kExitNotFound (the reason on stderr).
int OpenSourceWithScanFile(const std::string& source, ScanFileOption& option, DiskList& list, DiskRecord*& disk);

// The disks a --scan file may be for once SOURCE is loaded: the source disk
// and the dynamic-disk groups it is a member of.
std::vector<DiskRecord*> ScanFileCandidates(DiskList& list, DiskRecord& source);

// SOURCE... as OpenSourcesPartition loads them, then the scan file onto its
// disk among them (with several sources any disk loaded), then PARTITION:
// first on the disk the file was loaded onto, then on the groups and the
// sources. An empty PARTITION leaves partition null and disk the source (of
// several, the file's disk). Returns kExitDone or kExitNotFound (the reason
// on stderr).
int OpenSourcesPartitionWithScanFile(const std::vector<std::string>& sources, const std::string& partitionText,
                                     ScanFileOption& option, DiskList& list, DiskRecord*& disk,
                                     PartitionRecord*& partition);

// --save-scan FILE, judged before the scan so that hours of scanning do not
// end in a file that cannot be written: kExitDone, or kExitUsage after
// saying why (the source itself is always refused; a folder on the source
// disk only without allowSameDisk).
int CheckSaveScanTarget(const std::string& path, const DiskRecord& disk, bool allowSameDisk);

// Writes disk's scan-result file; kExitDone, or kExitNotFound after saying
// why.
int SaveScanFile(const std::string& path, const DiskRecord& disk);

// The command's exit status with the scan file's: a damaged file turns a
// finished run into kExitNotFound.
int WithScanFileStatus(int status, const ScanFileOption& option);

}  // namespace quorvel::cli

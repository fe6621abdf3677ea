#pragma once
// Resolving the SOURCE and PARTITION arguments every command takes.
#include <map>
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "model/disk_records.h"

namespace quorvel::cli {

// SOURCE: an image path, a device path, a disk number, or a disk's identity
// text. Loads what is needed into list and returns the DiskRecord, or null
// with error set.
DiskRecord* LoadSource(const std::string& source, DiskList& list, std::string& error);

// PARTITION: a row's name (e.g. "Partition1"), its mount point / drive text,
// or its 0-based index on the disk. Null when none matches.
PartitionRecord* FindPartition(DiskRecord& disk, const std::string& text);

// Says that no partition of disk is named text, with the ones there are
// (index, row text, type) so the user can pick one; `when` ends the first
// line (", also after the deep scan").
void PrintNoPartition(const DiskRecord& disk, const std::string& text, const std::string& when = std::string());

// LoadSource for a command: prints the reason on stderr when the source is not
// found. Returns kExitDone or kExitNotFound.
int OpenSource(const std::string& source, DiskList& list, DiskRecord*& disk);

// OpenSource, then FindPartition; prints the reason on stderr when either is
// not found. Returns kExitDone or kExitNotFound.
int OpenSourcePartition(const std::string& source, const std::string& partitionText, DiskList& list, DiskRecord*& disk,
                        PartitionRecord*& partition);

// The same for several sources given together (image or device paths), for
// volumes spread over them: every source is loaded, dynamic-disk groups are
// assembled, and PARTITION is looked for first among the volumes of the
// groups that the sources form, then on each source in turn. One source
// behaves as above.
int OpenSourcesPartition(const std::vector<std::string>& sources, const std::string& partitionText, DiskList& list,
                         DiskRecord*& disk, PartitionRecord*& partition);

}  // namespace quorvel::cli

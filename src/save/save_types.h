#pragma once
// What a save run works with: the job the save commands prepare, and the
// state the jobs of one run share (totals, used clusters, the summary).
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/scan_progress.h"
#include "io/sector_device.h"
#include "model/disk_records.h"

namespace quorvel {

enum SaveEngineMode : int {
  kNoSaveEngine = -1,
  kClusterMode = 0,  // FAT16 / FAT32 trees
  kRecordMode = 1,   // NTFS trees
};

// First clusters that a saved file owns; a signature search never writes a
// second file from one of them.
using UsedClusterSet = std::set<uint32_t>;

// How a run went, for the faces to show.
struct SaveSummary {
  uint64_t filesWritten = 0;
  uint64_t bytesWritten = 0;
  uint64_t foldersCreated = 0;
  // Entries not written, by reason.
  uint64_t skippedTargetNotCreated = 0;  // the target could not be created
  uint64_t skippedRecordUnreadable = 0;  // the file's MFT record could not be read again
  uint64_t skippedWriteFailed = 0;       // writing stopped (target full or failing)
  // Written, but not as the size said.
  uint64_t emptyNoSignature = 0;  // typed file with no cluster passing its test: empty file
  uint64_t shorterThanSize = 0;   // chain ended early or data missing
  uint64_t mftErrors = 0;         // "mft错误": no recorded position held the record
  bool stopped = false;
  // A few paths of skipped entries with their reason, for the report.
  std::vector<std::string> notes;

  uint64_t Skipped() const { return skippedTargetNotCreated + skippedRecordUnreadable + skippedWriteFailed; }
  void Note(const std::string& text) {
    if (notes.size() < 50) notes.push_back(text);
  }
};

// State shared by the jobs of one run (one job, or a multi-select list).
struct SaveRun {
  bool multiSelect = false;
  // Record mode: sizes of all entries reached so far (the progress text).
  uint64_t runningTotal = 0;
  // Bytes written in the whole run (the multi-select progress texts).
  uint64_t runBytes = 0;
  UsedClusterSet usedClusters;
  SaveSummary summary;
};

// One save: a subtree (or a single file) of one partition into a folder.
struct SaveJob {
  std::shared_ptr<SectorDevice> device;  // opened read-only on the source
  std::string targetFolder;              // the subtree is recreated below it
  std::string nameFilter;                // empty: every file passes
  SaveEngineMode engineMode = kNoSaveEngine;
  FatFileEntry* fatRoot = nullptr;    // cluster mode
  NtfsFileEntry* ntfsRoot = nullptr;  // record mode
  PartitionRecord* partition = nullptr;
  bool useFatReference = true;
  bool recoverDeleted = true;
  bool recoverNormal = true;
  // Record mode: decode each file's MFT record (true), or take the start
  // sector held in the entry's record-number field (false).
  bool recordDecoding = true;
  // Extent mode (carved files): the "Extra Found Files" record, its map, and
  // the range of absolute sectors whose carved files are saved.
  const CarvedFile* extentRoot = nullptr;
  const CarvedFileMap* extentMap = nullptr;
  uint64_t extentStartSector = 0;
  uint64_t extentSectorCount = 0;
  ScanProgress* progress = nullptr;
};

}  // namespace quorvel

#pragma once
// What a save run works with: the selection the faces hand over, the job the
// save preparation makes of each selected entry, and the state the jobs of
// one run share (totals, used clusters, the summary). The faces word what
// the summary reports.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/scan_progress.h"
#include "io/byte_source.h"
#include "model/disk_records.h"
#include "save/target_folders.h"

namespace quorvel {

enum SaveEngineMode : int {
  kNoSaveEngine = -1,
  kClusterMode = 0,  // FAT16 / FAT32 trees
  kRecordMode = 1,   // NTFS trees
};

// First clusters that a saved file owns; a signature search never writes a
// second file from one of them.
using UsedClusterSet = std::set<uint32_t>;

// Why a file was not written, or was written other than its size said.
enum class SaveNoteKind : uint8_t {
  kTargetNotCreated,   // the target file could not be created
  kRecordUnreadable,   // the file's MFT record could not be read again
  kWriteFailed,        // writing stopped (target full or failing); the file was removed
  kNoSignature,        // no candidate cluster passed the type's test: left empty
  kChainEndedEarly,    // the FAT chain ended before the size
  kRunsEndBeforeSize,  // the data runs end before the size
  kSourceUnreadable,   // some of its data could not be read (a failing sector, or past the source's end)
};

// One noted file: the reason, the target path it concerns and, when the
// system gave one, its error text ("Read-only file system").
struct SaveNote {
  SaveNoteKind kind;
  std::string path;
  std::string error;
};

// A file written, but not whole: the bytes of its size that could not be
// read (or that its chain or runs do not reach) are missing.
struct IncompleteFile {
  std::string path;
  uint64_t id = 0;  // first cluster, record number or start sector, as listed
  uint64_t size = 0;
  uint64_t written = 0;  // length of the file as it stands
  uint64_t missing = 0;  // bytes of the size that are not the file's own data
  SaveNoteKind why = SaveNoteKind::kSourceUnreadable;
};

// How a run went, for the faces to show.
struct SaveSummary {
  uint64_t filesWritten = 0;     // files that stay in the target, complete or not
  uint64_t filesIncomplete = 0;  // of these, written without all of their data
  uint64_t bytesWritten = 0;
  uint64_t foldersCreated = 0;
  // Entries not written, by reason.
  uint64_t skippedTargetNotCreated = 0;  // the target could not be created
  uint64_t skippedRecordUnreadable = 0;  // the file's MFT record could not be read again
  uint64_t skippedWriteFailed = 0;       // writing stopped (target full or failing)
  uint64_t emptyNoSignature = 0;         // typed file with no cluster passing its test: empty file
  uint64_t mftErrors = 0;                // "mft错误": no recorded position held the record
  bool stopped = false;                  // the files being written when the stop came were removed
  // Every incomplete file, and the first other files noted, for the report.
  std::vector<IncompleteFile> incomplete;
  std::vector<SaveNote> notes;

  uint64_t Skipped() const { return skippedTargetNotCreated + skippedRecordUnreadable + skippedWriteFailed; }
  uint64_t FilesComplete() const { return filesWritten - filesIncomplete; }
  // Every file reached was written whole.
  bool AllComplete() const { return Skipped() == 0 && filesIncomplete == 0 && emptyNoSignature == 0; }
  void Note(SaveNoteKind kind, const std::string& path, const std::string& error = std::string()) {
    if (notes.size() < 50) notes.push_back({kind, path, error});
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
  // The target folders the run's files were created in, held open.
  TargetFolders targets;
};

// The choices of the save dialog, or of the command line's switches.
struct SaveOptions {
  std::string targetFolder;
  std::string nameFilter;  // the page's filter text; empty: every file
  bool useFatReference = true;
  bool recoverDeleted = true;
  bool recoverNormal = true;
};

// One selected entry, standing for its whole subtree.
struct SelectedEntry {
  FatFileEntry* fat = nullptr;
  NtfsFileEntry* ntfs = nullptr;
  bool carvedFolder = false;  // the "Extra Found Files" folder
  bool carvedFile = false;    // one carved file, the one at carvedSector
  uint64_t carvedSector = 0;
  // The number the page shows for the entry: first cluster or record number.
  uint64_t fileId = 0;
  // Names of the folders above the entry, from the special folder down; the
  // entry is saved below targetFolder/<chain>/.
  std::vector<std::string> folderChain;
  // The entry is the NTFS extension folder or lies below it: its entries hold
  // start sectors instead of record numbers.
  bool underExtensionFolder = false;
};

// What the faces hand the save: the entries chosen (however the face lets
// the user choose them) and the options, for one partition.
struct SaveSelection {
  std::vector<SelectedEntry> entries;
  SaveOptions options;
  // Several rows ticked at once (the multi-select command) rather than one
  // chosen row: decides the space check and the typed-file search.
  bool multiSelect = true;
};

// One save: a subtree (or a single file) of one partition into a folder.
struct SaveJob {
  SharedSource source;  // what the partition's sectors count in, opened read-only
  PartitionRecord* partition = nullptr;
  ScanProgress* progress = nullptr;
  // options.targetFolder is the folder this job's entry goes into: the
  // chosen folder and the folders above the entry.
  SaveOptions options;
  // The chosen folder (empty: options.targetFolder is): nothing below it
  // that the save did not make is followed (save/target_folders.h).
  std::string targetRoot;
  SaveEngineMode engineMode = kNoSaveEngine;
  FatFileEntry* fatRoot = nullptr;    // cluster mode
  NtfsFileEntry* ntfsRoot = nullptr;  // record mode
  // Record mode: decode each file's MFT record (true), or take the start
  // sector held in the entry's record-number field (false).
  bool recordDecoding = true;
  // Extent mode (carved files): the "Extra Found Files" record, its map, and
  // the range of absolute sectors whose carved files are saved.
  const CarvedFile* extentRoot = nullptr;
  const CarvedFileMap* extentMap = nullptr;
  uint64_t extentStartSector = 0;
  uint64_t extentSectorCount = 0;
};

}  // namespace quorvel

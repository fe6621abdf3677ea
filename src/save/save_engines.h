#pragma once
// The save engines: cluster mode for FAT trees, record mode for NTFS trees,
// extent mode for carved files, and the thread entries that run them.
#include <string>
#include <vector>

#include "core/byte_view.h"
#include "save/save_types.h"
#include "save/target_naming.h"

namespace quorvel {

class FileCopyCrew;

// Every engine reads through job.source, saves job.partition's entries,
// reports on *job.progress (never null here) and follows job.options; what
// it writes and skips is counted in run.

// ---- cluster mode (FAT16 / FAT32) ----

// Saves entry (a folder's subtree or one file) under targetFolder. Names are
// repaired with RepairName; folders are created when a file inside them is.
// The walk goes without recursion, however deep the folders nest.
void SaveTreeClusterMode(const SaveJob& job, FatFileEntry& entry, const std::string& targetFolder, SaveRun& run);

// Follows the in-memory FAT from the entry's first cluster. True when saved
// (whole or not), false when the target could not be created, writing failed
// or the run was stopped (the file is then removed). With a crew the data is
// copied (and the file counted) by it, later; true then means handed over.
bool SaveByClusterChain(const SaveJob& job, const FatFileEntry& entry, const std::string& targetPath, SaveRun& run,
                        FileCopyCrew* crew = nullptr);

// Without the FAT: copies contiguously from the first cluster, or for a typed
// extension (of the target's name) searches the candidate clusters (every
// high word with the entry's low word) for the type's signature; every match
// becomes its own file.
void SaveBySignature(const SaveJob& job, const FatFileEntry& entry, const std::string& targetPath, SaveRun& run);

// True when extension (lower case) is searched by signature in this run.
bool IsTypedExtension(const std::string& extension, bool multiSelect);
// The signature test of a typed extension on the first cluster of a candidate.
bool MatchesSignature(const std::string& extension, ByteView data, uint64_t size);

// ---- record mode (NTFS) ----

// Saves entry under targetFolder. False when stopped, or when the entry is a
// file whose target could not be created or was removed after a failed write.
bool SaveTreeRecordMode(const SaveJob& job, NtfsFileEntry& entry, const std::string& targetFolder, SaveRun& run);

// Decodes the entry's MFT record again and writes its unnamed data stream
// (resident, plain runs, sparse runs, compressed units); the data of all but
// compressed files is copied by crew. False on a stop or a target that could
// not be created.
bool SaveRecordFile(const SaveJob& job, const NtfsFileEntry& entry, const std::string& targetFolder, SaveRun& run,
                    FileCopyCrew& crew);

// The entry's record-number field holds an absolute start sector: copies size
// bytes from there.
bool SaveContiguous(const SaveJob& job, const NtfsFileEntry& entry, const std::string& targetFolder, SaveRun& run);

// ---- extent mode (carved files) ----

// Saves the carved files of job.extentMap that start inside the job's extent
// range into options.targetFolder/<root name>/. False when stopped.
bool SaveExtentTree(const SaveJob& job, SaveRun& run);

// ---- thread entries ----

// Runs one job: its tree engine, then extent mode when it carries an extent
// root. Holds OperationBusy for the run and closes the progress at the end.
int SaveThreadMain(SaveJob& job, SaveRun& run);
// The same for every job of a multi-select list, in order, in one run.
int MultiSelectSaveThreadMain(std::vector<SaveJob>& jobs, SaveRun& run);

// ---- shared by the engines ----

// Progress texts as the user sees them.
std::string SavedBytesText(uint64_t bytes);  // "<n> BYTE被保存"
std::string SavedTotalText(uint64_t total);  // BYTE, KB, MB or GB form by size
// "<n> BYTE被保存" for cluster mode: the file's bytes, or in a multi-select
// run the bytes of the whole run.
void ReportFileBytes(ScanProgress& progress, const SaveRun& run, uint64_t fileBytes);

// Creates the target file at path (below the job's chosen folder) as
// TargetFolders::Create does, through the run's held folders.
bool CreateJobTarget(const SaveJob& job, SaveRun& run, TargetFile& file, const std::string& path, int64_t& counter);
bool CreateJobTarget(const SaveJob& job, SaveRun& run, TargetFile& file, const std::string& path);

// Notes a file under its reason, with the system's error text when error
// (an errno value) is set. The reasons that skip a file, and a typed file
// left empty, are counted too (files written short are counted by
// FinishFile, save/file_data.h).
void NoteFile(SaveRun& run, SaveNoteKind kind, const std::string& path, int error = 0);

}  // namespace quorvel

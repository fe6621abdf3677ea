// Progress texts and counting shared by the save engines.
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "save/save_engines.h"

namespace quorvel {

std::string SavedBytesText(uint64_t bytes) { return FormatText("%" PRIu64 " BYTE被保存", bytes); }

std::string SavedTotalText(uint64_t total) {
  if (total < 1024) return SavedBytesText(total);
  if (total < 0x100000) return FormatText("%.2f KB被保存", static_cast<double>(total) / 1024.0);
  if (total < 0x40000000) return FormatText("%.2f MB被保存", static_cast<double>(total) / (1024.0 * 1024.0));
  return FormatText("%.2f GB被保存", static_cast<double>(total) / (1024.0 * 1024.0 * 1024.0));
}

void ReportFileBytes(ScanProgress& progress, const SaveRun& run, uint64_t fileBytes) {
  progress.SetText(SavedBytesText(run.multiSelect ? run.runBytes + fileBytes : fileBytes));
}

bool CreateJobTarget(const SaveJob& job, SaveRun& run, TargetFile& file, const std::string& path, int64_t& counter) {
  const std::string& root = job.targetRoot.empty() ? job.options.targetFolder : job.targetRoot;
  // A job that names no folder at all: the file's own folder is the chosen one.
  if (root.empty()) return CreateTargetFile(file, path, counter);
  return run.targets.Create(root, path, file, counter);
}

bool CreateJobTarget(const SaveJob& job, SaveRun& run, TargetFile& file, const std::string& path) {
  int64_t counter = -1;
  return CreateJobTarget(job, run, file, path, counter);
}

namespace {

// The system's text, or what the folder walk refused.
std::string ErrorText(SaveNoteKind kind, int error) {
  if (!error) return std::string();
  if (kind == SaveNoteKind::kTargetNotCreated && error == ELOOP)
    return "a symbolic link is in the way (links inside the target folder are not followed)";
  if (kind == SaveNoteKind::kTargetNotCreated && error == EXDEV)
    return "another file system is mounted in the way (mount points inside the target folder are not entered)";
  return std::strerror(error);
}

}  // namespace

void NoteFile(SaveRun& run, SaveNoteKind kind, const std::string& path, int error) {
  SaveSummary& summary = run.summary;
  switch (kind) {
    case SaveNoteKind::kTargetNotCreated:
      summary.skippedTargetNotCreated++;
      break;
    case SaveNoteKind::kRecordUnreadable:
      summary.skippedRecordUnreadable++;
      break;
    case SaveNoteKind::kWriteFailed:
      summary.skippedWriteFailed++;
      break;
    case SaveNoteKind::kNoSignature:
      summary.emptyNoSignature++;
      break;
    case SaveNoteKind::kChainEndedEarly:
    case SaveNoteKind::kRunsEndBeforeSize:
    case SaveNoteKind::kSourceUnreadable:
      break;
  }
  summary.Note(kind, path, ErrorText(kind, error));
}

}  // namespace quorvel

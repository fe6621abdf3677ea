// Progress texts and counting shared by the save engines.
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
  summary.Note(kind, path, error ? std::strerror(error) : std::string());
}

}  // namespace quorvel

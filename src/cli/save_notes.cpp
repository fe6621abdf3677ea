#include "cli/save_notes.h"

namespace quorvel::cli {

const char* SaveNoteText(SaveNoteKind kind) {
  switch (kind) {
    case SaveNoteKind::kTargetNotCreated:
      return "target could not be created";
    case SaveNoteKind::kRecordUnreadable:
      return "MFT record unreadable";
    case SaveNoteKind::kWriteFailed:
      return "writing failed (file removed)";
    case SaveNoteKind::kNoSignature:
      return "no cluster passed the signature test (left empty)";
    case SaveNoteKind::kChainEndedEarly:
      return "chain ended early";
    case SaveNoteKind::kRunsEndBeforeSize:
      return "data runs end before the size";
    case SaveNoteKind::kSourceUnreadable:
      return "data could not be read";
  }
  return "";
}

const char* SaveNoteCode(SaveNoteKind kind) {
  switch (kind) {
    case SaveNoteKind::kTargetNotCreated:
      return "target_not_created";
    case SaveNoteKind::kRecordUnreadable:
      return "record_unreadable";
    case SaveNoteKind::kWriteFailed:
      return "write_failed";
    case SaveNoteKind::kNoSignature:
      return "no_signature";
    case SaveNoteKind::kChainEndedEarly:
      return "chain_ended_early";
    case SaveNoteKind::kRunsEndBeforeSize:
      return "runs_end_before_size";
    case SaveNoteKind::kSourceUnreadable:
      return "source_unreadable";
  }
  return "";
}

}  // namespace quorvel::cli

#include "cli/save_notes.h"

namespace quorvel::cli {

const char* SaveNoteText(SaveNoteKind kind) {
  switch (kind) {
    case SaveNoteKind::kTargetNotCreated:
      return "target could not be created";
    case SaveNoteKind::kRecordUnreadable:
      return "MFT record unreadable";
    case SaveNoteKind::kWriteFailed:
      return "writing failed";
    case SaveNoteKind::kNoSignature:
      return "no cluster passed the signature test (left empty)";
    case SaveNoteKind::kChainEndedEarly:
      return "chain ended early";
    case SaveNoteKind::kRunsEndBeforeSize:
      return "data runs end before the size";
  }
  return "";
}

}  // namespace quorvel::cli

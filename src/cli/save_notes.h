#pragma once
// How the command line words the reasons a save notes for a file.
#include "save/save_types.h"

namespace quorvel::cli {

// "chain ended early", "writing failed", ...
const char* SaveNoteText(SaveNoteKind kind);
// The same reasons as --json words them: "chain_ended_early", ...
const char* SaveNoteCode(SaveNoteKind kind);

}  // namespace quorvel::cli

#pragma once
// How the command line words the reasons a save notes for a file.
#include "save/save_types.h"

namespace quorvel::cli {

// "chain ended early", "writing failed", ...
const char* SaveNoteText(SaveNoteKind kind);

}  // namespace quorvel::cli

#pragma once
// Text read from a disk (names, labels) shown on a terminal: control
// characters are shown escaped, so a hostile name cannot send escape
// sequences to the user's terminal.
#include <string>

namespace quorvel::cli {

// C0 controls and DEL as \xNN, C1 controls (U+0080..U+009F, which some
// terminals obey in UTF-8 too) as \uNNNN; everything else as it is.
std::string TerminalSafe(const std::string& text);

}  // namespace quorvel::cli

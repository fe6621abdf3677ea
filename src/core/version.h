#pragma once
// The program's version, shown by `quorvel --version`, `quorvel-gui --version`
// and the About box.

namespace quorvel {

constexpr const char* kQuorvelVersion = "0.1";

}  // namespace quorvel

#pragma once
// Names found on a source disk turned into names a target folder accepts, and
// the save name filter.
#include <string>

namespace quorvel {

// What forbidden characters are replaced by in saved names.
constexpr const char* kNameReplacement = "$";

// Repairs a name for the cluster-mode engine: byte sequences that are not
// valid UTF-8 become "?", then every character Windows forbids in file names
// (? / : * \ " < > |) and every control character becomes the replacement.
// The result is always one name inside its folder (see SafeTargetName).
void RepairName(std::string& name, const std::string& replacement);

// The smallest repair that keeps a name inside its folder, for engines that
// otherwise use names as found: "/" and control characters become the
// replacement, "", "." and ".." become replacement text, invalid UTF-8 becomes
// the replacement, and a name longer than a file system allows is shortened
// (keeping its extension).
std::string SafeTargetName(const std::string& name, const std::string& replacement = kNameReplacement);

// True when name passes pattern: the name is lowered, the pattern is not;
// "*" is dropped from the pattern. A pattern with a "." after its first
// character matches the part before the name's first "." and the part after
// it separately; otherwise the whole pattern is a substring test.
bool MatchNameFilter(const std::string& name, const std::string& pattern);

// The text after the last "." of a name: the whole name when it has no ".",
// empty when its only "." is the first character.
std::string NameExtension(const std::string& name);

}  // namespace quorvel

#pragma once
// What the volume-manager tests compare quorvel's listing and saved files
// with: The Sleuth Kit run on a volume's bytes extracted by other means.
#include <set>
#include <string>
#include <vector>

#include "recover/ls_json.h"
#include "support/test_support.h"

namespace quorvel::test {

// The user files fls finds in a volume image: "dir/name" paths, without the
// file system's own "$" files and folders.
std::set<std::string> FlsUserFiles(const std::string& volumeImage);
// The same paths of the normal files and folders of `quorvel ls --json`
// (below the root folder, "根目录/" dropped).
std::set<std::string> ListedUserFiles(const LsListing& listing);
// `quorvel ls SOURCES... PARTITION --json --quiet`.
LsListing ListVolume(const std::vector<std::string>& sources, const std::string& partition);
// icat's bytes of the file at path ("dir/name") in the volume image.
std::string IcatFile(const std::string& volumeImage, const std::string& path);
// Saves one entry ("根目录/dir/name") of the volume and returns its bytes
// (empty and a failure recorded when it was not saved).
std::string SaveOne(const std::vector<std::string>& sources, const std::string& partition, const std::string& path);
// The sources quoted for a command line.
std::string QuoteAll(const std::vector<std::string>& sources);

}  // namespace quorvel::test

#pragma once
// Helpers of the save tests.
#include <dirent.h>
#include <sys/stat.h>
#include <cstdlib>
#include <set>
#include <string>

#include "support/test_support.h"

namespace quorvel::test {

// A fresh folder for one test; never empty (an empty name would send the
// test's files to the file-system root).
inline std::string SaveTempDir(const std::string& tag) {
  mkdir(QUORVEL_FIXTURE_DIR, 0755);
  std::string dir = MakeTempDir(tag);
  if (dir.empty()) std::abort();
  return dir;
}

// The names in a folder, "." and ".." included (none when it cannot be read).
inline std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

}  // namespace quorvel::test

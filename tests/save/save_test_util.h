#pragma once
// Helpers of the save tests.
#include <cstdlib>
#include <string>
#include <sys/stat.h>

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

}  // namespace quorvel::test

#pragma once
// A command's disks and trees are left for the system to reclaim when the
// process ends: freeing a tree of a million entries one by one only delays
// the exit (5-8 % of a listing). The memory stays reachable, so leak checkers
// do not count it.
#include "model/disk_records.h"

namespace quorvel::cli {

// Declared right after the list: when the command returns, the list's
// contents move to storage that is never freed.
class KeepUntilExit {
 public:
  explicit KeepUntilExit(DiskList& list) : list_(list) {}
  KeepUntilExit(const KeepUntilExit&) = delete;
  KeepUntilExit& operator=(const KeepUntilExit&) = delete;
  ~KeepUntilExit();

 private:
  DiskList& list_;
};

}  // namespace quorvel::cli

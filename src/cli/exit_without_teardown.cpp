#include "cli/exit_without_teardown.h"

#include <vector>

namespace quorvel::cli {

KeepUntilExit::~KeepUntilExit() {
  static auto* kept = new std::vector<DiskList>;
  kept->push_back(std::move(list_));
}

}  // namespace quorvel::cli

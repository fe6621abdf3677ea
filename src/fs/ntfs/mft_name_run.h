#pragma once
// The little the deep scan needs from a $MFT or $MFTMirr record it meets on
// the way: the record's name and where its data starts.
#include <cstdint>
#include <string>

#include "core/byte_view.h"

namespace quorvel {

struct NameAndFirstRun {
  std::string name;            // the last non-empty $FILE_NAME, UTF-8
  uint64_t totalClusters = 0;  // sum of the unnamed $DATA's run lengths
  uint64_t firstCluster = 0;   // start of its first run that has clusters on disk
};

// record: 1024 bytes that passed FixUpFileRecord. False when the attribute
// walk runs off the record.
bool ReadNameAndFirstRun(ByteView record, NameAndFirstRun& out);

}  // namespace quorvel

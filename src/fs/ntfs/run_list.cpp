// NTFS run lists: a header byte per run (low nibble = width of the length
// field, high nibble = width of the signed offset field), then the fields.
#include <limits>

#include "fs/ntfs/mft_record.h"

namespace quorvel {

namespace {

uint64_t LoadUnsigned(const uint8_t* p, unsigned width) {
  uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

int64_t LoadSigned(const uint8_t* p, unsigned width) {
  uint64_t value = LoadUnsigned(p, width);
  if (width < 8 && (p[width - 1] & 0x80)) value |= ~uint64_t{0} << (8 * width);
  return static_cast<int64_t>(value);
}

}  // namespace

bool DecodeRunList(const uint8_t* runList, size_t length, uint64_t firstVcn, std::vector<DataRun>& runs) {
  size_t pos = 0;
  int64_t cluster = 0;  // offsets accumulate from 0 in every run list
  uint64_t vcn = firstVcn;
  while (pos < length) {
    uint8_t header = runList[pos];
    if (header == 0) return true;
    unsigned lengthWidth = header & 0x0F;
    unsigned offsetWidth = header >> 4;
    // A zero-width length or fields wider than 64 bits cannot come from NTFS.
    if (lengthWidth == 0 || lengthWidth > 8 || offsetWidth > 8) return false;
    if (length - pos - 1 < lengthWidth + offsetWidth) return false;  // would run past the list
    uint64_t count = LoadUnsigned(runList + pos + 1, lengthWidth);
    if (count == 0 || count > std::numeric_limits<uint64_t>::max() - vcn) return false;
    DataRun run;
    run.vcn = vcn;
    run.clusterCount = count;
    if (offsetWidth == 0) {
      run.sparse = true;
    } else {
      int64_t delta = LoadSigned(runList + pos + 1 + lengthWidth, offsetWidth);
      // Guard the signed sum; a run list that points before cluster 0 lies.
      if ((delta > 0 && cluster > std::numeric_limits<int64_t>::max() - delta) || cluster + delta < 0) return false;
      cluster += delta;
      run.startCluster = static_cast<uint64_t>(cluster);
    }
    runs.push_back(run);
    vcn += count;
    pos += 1 + lengthWidth + offsetWidth;
  }
  return false;  // no end marker inside the attribute
}

}  // namespace quorvel

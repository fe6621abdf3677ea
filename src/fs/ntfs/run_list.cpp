// NTFS run lists: a header byte per run (low nibble = width of the length
// field, high nibble = width of the signed offset field), then the fields.
#include <limits>

#include "fs/ntfs/mft_record.h"

namespace quorvel {

namespace {

int64_t SignExtend(uint64_t value, unsigned width) {
  if (width > 0 && width < 8 && (value >> (8 * width - 1)) & 1) value |= ~uint64_t{0} << (8 * width);
  return static_cast<int64_t>(value);
}

}  // namespace

bool DecodeRunList(ByteView runList, uint64_t firstVcn, std::vector<DataRun>& runs) {
  size_t pos = 0;
  int64_t cluster = 0;  // offsets accumulate from 0 in every run list
  uint64_t vcn = firstVcn;
  while (pos < runList.size()) {
    const uint8_t header = runList.U8(pos);
    if (header == 0) return true;
    const unsigned lengthWidth = header & 0x0F;
    const unsigned offsetWidth = header >> 4;
    // A zero-width length or fields wider than 64 bits cannot come from NTFS.
    if (lengthWidth == 0 || lengthWidth > 8 || offsetWidth > 8) return false;
    if (!runList.Has(pos + 1, lengthWidth + offsetWidth)) return false;  // would run past the list
    const uint64_t count = runList.LeVar(pos + 1, lengthWidth);
    if (count == 0 || count > std::numeric_limits<uint64_t>::max() - vcn) return false;
    DataRun run;
    run.vcn = vcn;
    run.clusterCount = count;
    if (offsetWidth == 0) {
      run.sparse = true;
    } else {
      const int64_t delta = SignExtend(runList.LeVar(pos + 1 + lengthWidth, offsetWidth), offsetWidth);
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

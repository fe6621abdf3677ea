#include "fs/ntfs/mft_name_run.h"

#include <utility>
#include <vector>

#include "core/byte_view.h"
#include "fs/ntfs/mft_record.h"
#include "platform/text.h"

namespace quorvel {

namespace {

constexpr size_t kFileNameLengthOffset = 0x40;  // in the $FILE_NAME value
constexpr size_t kFileNameOffset = 0x42;

// A resident attribute's value, cut to the attribute.
ByteView ResidentValue(ByteView attribute) {
  if (attribute.U8(8) != 0) return {};
  return attribute.Sub(attribute.Le16(0x14), attribute.Le32(0x10));
}

}  // namespace

bool ReadNameAndFirstRun(ByteView record, NameAndFirstRun& out) {
  out = NameAndFirstRun();
  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  if (!ListAttributes(record, attributes)) return false;
  const ByteView whole = record;
  bool firstFound = false;
  for (const auto& [type, offset] : attributes) {
    const ByteView attribute = whole.Sub(offset, whole.Le32(offset + 4));
    if (type == NtfsAttr::kFileName) {
      const ByteView value = ResidentValue(attribute);
      const size_t units = value.U8(kFileNameLengthOffset);
      const ByteView chars = value.Sub(kFileNameOffset, units * 2);
      if (units != 0 && chars.size() == units * 2) out.name = Utf16LeToUtf8(chars);
    } else if (type == NtfsAttr::kData && attribute.U8(9) == 0 && attribute.U8(8) == 1) {
      const size_t runOffset = attribute.Le16(0x20);
      if (runOffset >= attribute.size()) continue;
      std::vector<DataRun> runs;
      DecodeRunList(attribute.Sub(runOffset), 0, runs);
      for (const DataRun& run : runs) {
        out.totalClusters += run.clusterCount;
        if (!firstFound && !run.sparse) {
          out.firstCluster = run.startCluster;
          firstFound = true;
        }
      }
    }
  }
  return true;
}

}  // namespace quorvel

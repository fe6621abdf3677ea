#include "fs/ntfs/mft_name_run.h"

#include <utility>
#include <vector>

#include "core/byte_view.h"
#include "fs/ntfs/attribute_layout.h"
#include "fs/ntfs/mft_record.h"
#include "platform/text.h"

namespace quorvel {

namespace {

// A resident attribute's value, cut to the attribute.
ByteView ResidentValue(ByteView attribute) {
  if (attribute.U8(NtfsAttribute::kNonResident) != 0) return {};
  return attribute.Sub(attribute.Le16(NtfsAttribute::kValueOffset), attribute.Le32(NtfsAttribute::kValueLength));
}

}  // namespace

bool ReadNameAndFirstRun(ByteView record, NameAndFirstRun& out) {
  out = NameAndFirstRun();
  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  if (!ListAttributes(record, attributes)) return false;
  const ByteView whole = record;
  bool firstFound = false;
  for (const auto& [type, offset] : attributes) {
    const ByteView attribute = whole.Sub(offset, whole.Sub(offset).Le32(NtfsAttribute::kLength));
    if (type == NtfsAttr::kFileName) {
      const ByteView value = ResidentValue(attribute);
      const size_t units = value.U8(FileNameValue::kNameLength);
      const ByteView chars = value.Sub(FileNameValue::kName, units * 2);
      if (units != 0 && chars.size() == units * 2) out.name = Utf16LeToUtf8(chars);
    } else if (type == NtfsAttr::kData && attribute.U8(NtfsAttribute::kNameLength) == 0 &&
               attribute.U8(NtfsAttribute::kNonResident) == 1) {
      const size_t runOffset = attribute.Le16(NtfsAttribute::kRunListOffset);
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

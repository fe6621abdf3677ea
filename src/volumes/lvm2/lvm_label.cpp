#include "volumes/lvm2/lvm_label.h"

#include <algorithm>
#include <vector>

#include "volumes/lvm2/lvm_label_layout.h"
#include "volumes/lvm2/lvm_metadata.h"
#include "volumes/lvm2/lvm_metadata_header_layout.h"

namespace quorvel {

namespace {

constexpr size_t kSector = 512;
// LVM keeps one metadata text well under a megabyte; this bounds what a
// damaged header can make us read.
constexpr uint64_t kMaxTextBytes = 16ull << 20;

uint64_t RoundUpToSector(uint64_t n) { return (n + kSector - 1) / kSector * kSector; }

}  // namespace

bool ParseLvmMetadataHeader(ByteView v, LvmMetadataLocation& out) {
  namespace L = LvmMetadataHeader;
  if (!v.Matches(L::kMagic, L::kMagicText)) return false;
  out.areaStart = v.Le64(L::kAreaStart);
  out.areaSize = v.Le64(L::kAreaSize);
  out.textOffset = v.Le64(L::kTextOffset);
  out.textLength = v.Le64(L::kTextLength);
  return true;
}

std::string ReadLvmMetadataText(const ByteSource& disk, uint64_t areaOffset, uint64_t areaSize) {
  uint8_t header[kSector];
  if (!disk.ReadFull(areaOffset, header)) return std::string();
  LvmMetadataLocation at;
  if (!ParseLvmMetadataHeader(ByteView(header, sizeof header), at)) return std::string();
  if (at.areaSize != 0) areaSize = at.areaSize;
  // The text lies in the area behind its header sector, wrapping round to
  // just behind the header when it reaches the area's end.
  if (at.textLength == 0 || at.textLength > kMaxTextBytes || areaSize <= kSector) return std::string();
  if (at.textOffset < kSector || at.textOffset >= areaSize || at.textLength > areaSize - kSector) return std::string();
  uint64_t length = RoundUpToSector(at.textLength);
  std::vector<uint8_t> text(static_cast<size_t>(length));
  uint64_t first = std::min(length, areaSize - at.textOffset);
  if (!disk.ReadFull(areaOffset + at.textOffset, std::span<uint8_t>(text.data(), static_cast<size_t>(first))))
    return std::string();
  if (first < length) {
    std::span<uint8_t> rest(text.data() + first, static_cast<size_t>(length - first));
    if (!disk.ReadFull(areaOffset + kSector, rest)) return std::string();
  }
  size_t end = static_cast<size_t>(std::min<uint64_t>(at.textLength, length));
  std::string result(reinterpret_cast<const char*>(text.data()), end);
  // The text ends at its first zero byte.
  if (size_t zero = result.find('\0'); zero != std::string::npos) result.resize(zero);
  return result;
}

int ReadLvmLabel(ByteView sector1, const ByteSource& source, DiskRecord& disk) {
  if (!sector1.Matches(LvmLabel::kMagic, "LABELONE")) return 1;
  std::string uuid;
  for (size_t i = 0; i < LvmLabel::kPvUuidLength; ++i)
    uuid.push_back(static_cast<char>(sector1.U8(LvmLabel::kPvUuid + i)));
  disk.diskIdText = uuid;
  disk.lvm.metadataOffset = sector1.Le64(LvmLabel::kFirstMetadataOffset);
  disk.lvm.metadataSize = sector1.Le64(LvmLabel::kFirstMetadataSize);
  std::string text = ReadLvmMetadataText(source, disk.lvm.metadataOffset, disk.lvm.metadataSize);
  if (!text.empty()) ParseLvmMetadata(text, uuid, disk.lvm, disk.groupIdText);
  return 0;
}

}  // namespace quorvel

// The HFS family: classifying the header, the HFS volume name, and the probe
// the Apple partition map walk uses.
#include "fs/fs_recognition.h"
#include "fs/hfs_layout.h"
#include "platform/text.h"

namespace quorvel {

int ClassifyHfsHeader(ByteView h) {
  switch (h.Le16(HfsHeader::kSignature)) {
    case HfsHeader::kHfsSignature: {
      const uint16_t embedded = h.Le16(HfsHeader::kEmbeddedSignature);
      if (embedded == 0) return 1;
      if (embedded == HfsHeader::kHfsPlusSignature) return 4;
      return 0;
    }
    case HfsHeader::kHfsPlusSignature:
      return 2;
    case HfsHeader::kHfsxSignature:
      return 3;
    default:
      return 0;
  }
}

std::string HfsVolumeName(ByteView h) {
  size_t length = h.U8(HfsHeader::kVolumeNameLength);
  if (length > HfsHeader::kMaxVolumeName) length = HfsHeader::kMaxVolumeName;
  const ByteView name = h.Sub(HfsHeader::kVolumeName, length);
  return Cp936ToUtf8(std::string(reinterpret_cast<const char*>(name.data()), name.size()));
}

std::string ProbeHfsVolume(const ByteSource& source, uint64_t startSector, int32_t& variant) {
  uint8_t bytes[512];
  source.ReadAt(startSector * source.SectorSize() + HfsHeader::kOffsetInVolume, bytes);
  const ByteView header(bytes);
  switch (header.Le16(HfsHeader::kSignature)) {
    case HfsHeader::kHfsSignature:
      variant = header.Le16(HfsHeader::kEmbeddedSignature) == HfsHeader::kHfsPlusSignature ? 4 : 1;
      return HfsVolumeName(header);
    case HfsHeader::kHfsPlusSignature:
      variant = 2;
      return "only hfs+";
    case HfsHeader::kHfsxSignature:
      variant = 3;
      return "HFSX";
    default:
      return std::string();
  }
}

}  // namespace quorvel

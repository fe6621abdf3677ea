#include "volumes/ldm/ldm_private_header.h"

#include <cstdio>

#include "volumes/ldm/ldm_private_header_layout.h"

namespace quorvel {

namespace {

constexpr size_t kSector = 512;
// The second copy lies this many sectors before the end of the database area.
constexpr uint64_t kSecondCopyDistance = 192;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The NUL-terminated text of at most `width` bytes at offset.
std::string FieldText(ByteView v, size_t offset, size_t width) {
  std::string text;
  for (size_t i = 0; i < width && v.U8(offset + i) != 0; ++i) text.push_back(static_cast<char>(v.U8(offset + i)));
  return text;
}

bool RangesOverlap(uint64_t aStart, uint64_t aSize, uint64_t bStart, uint64_t bSize) {
  return aStart < bStart + bSize && bStart < aStart + aSize;
}

bool SameLayout(const LdmDiskValues& a, const LdmDiskValues& b) {
  return a.versionMajor == b.versionMajor && a.versionMinor == b.versionMinor &&
         a.logicalDiskStart == b.logicalDiskStart && a.logicalDiskSize == b.logicalDiskSize &&
         a.configStart == b.configStart && a.configSize == b.configSize && a.diskGuid == b.diskGuid;
}

bool ReadCopy(const ByteSource& disk, uint64_t sector, LdmHeaderPlace place, LdmDiskValues& out) {
  if (sector > UINT64_MAX / kSector) return false;
  uint8_t buffer[kSector];
  // A copy that cannot be read is no copy.
  if (!disk.ReadFull(sector * kSector, buffer)) return false;
  return ParseLdmPrivateHeader(ByteView(buffer, sizeof buffer), place, out);
}

}  // namespace

bool ParseGuidText(std::string_view text, std::array<uint8_t, 16>& out) {
  if (text.size() < 36) return false;
  size_t byte = 0;
  for (size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    int hi = HexDigit(text[i]);
    int lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[byte++] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  return byte == 16;
}

std::string GuidBytesText(const std::array<uint8_t, 16>& bytes) {
  std::string text;
  for (uint8_t b : bytes) text += std::to_string(b);
  return text;
}

bool ParseLdmPrivateHeader(ByteView v, LdmHeaderPlace place, LdmDiskValues& out) {
  namespace L = LdmPrivateHeader;
  if (!v.Has(0, L::kSize) || !v.Matches(L::kMagic, "PRIVHEAD")) return false;
  LdmDiskValues h;
  h.versionMajor = v.Be16(L::kVersionMajor);
  h.versionMinor = v.Be16(L::kVersionMinor);
  if (h.versionMajor != 2 || (h.versionMinor != 11 && h.versionMinor != 12)) return false;
  h.logicalDiskStart = v.Be64(L::kLogicalDiskStart);
  h.logicalDiskSize = v.Be64(L::kLogicalDiskSize);
  h.configStart = v.Be64(L::kConfigStart);
  h.configSize = v.Be64(L::kConfigSize);
  if (h.configSize == 0) return false;
  if (h.logicalDiskStart > UINT64_MAX - h.logicalDiskSize || h.configStart > UINT64_MAX - h.configSize) return false;
  if (place == LdmHeaderPlace::kMbr) {
    // The database follows the data area at the end of the disk.
    if (h.logicalDiskStart + h.logicalDiskSize > h.configStart) return false;
  } else if (RangesOverlap(h.logicalDiskStart, h.logicalDiskSize, h.configStart, h.configSize)) {
    // GPT disks keep the database in its own partition, before the data.
    return false;
  }
  if (!ParseGuidText(FieldText(v, L::kDiskGuid, L::kGuidTextWidth), h.diskGuid)) return false;
  if (!ParseGuidText(FieldText(v, L::kGroupGuid, L::kGuidTextWidth), h.groupGuid)) return false;
  h.groupName = FieldText(v, L::kGroupName, L::kGroupNameWidth);
  out = h;
  return true;
}

bool ReadLdmPrivateHeaders(const ByteSource& disk, uint64_t firstSector, LdmHeaderPlace place, LdmDiskValues& out) {
  LdmDiskValues first;
  if (!ReadCopy(disk, firstSector, place, first)) return false;
  if (first.configSize < kSecondCopyDistance) return false;
  uint64_t end = first.configStart + first.configSize;
  LdmDiskValues last, second;
  if (!ReadCopy(disk, end - 1, place, last)) return false;
  if (!ReadCopy(disk, end - kSecondCopyDistance, place, second)) return false;
  if (!SameLayout(last, second)) return false;
  out = last;
  return true;
}

}  // namespace quorvel

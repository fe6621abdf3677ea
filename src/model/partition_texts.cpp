#include "model/partition_texts.h"

#include <algorithm>
#include <cstdio>

namespace quorvel {

std::string PartitionTypeText(const PartitionRecord& p) {
  if (IsFat16Kind(p.fsKind)) return "FAT16";
  if (p.fsKind == FsKind::kExfat) return "exFAT";
  if (IsNtfsKind(p.fsKind)) return "NTFS";
  if (IsFat32Kind(p.fsKind)) return "FAT32";
  if (p.fsKind == FsKind::kHfsFamily) return p.subKindText;
  if (p.fsKind == FsKind::kLinuxExt) return p.linuxSubKind;
  return std::string();
}

std::string SizeText(uint64_t bytes) {
  double gib = static_cast<double>(bytes) / 1073741824.0;
  char text[64];
  if (gib > 0.0001 && gib < 0.1) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1048576.0);
  } else if (gib < 0.0001) {
    std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f GB", gib);
  }
  return text;
}

std::vector<std::string> PartitionRowTexts(const DiskRecord& disk) {
  std::vector<std::string> rows;
  for (const PartitionRecord& p : disk.partitions) {
    std::string text = p.driveLetter.empty() ? p.name : p.driveLetter;
    if (std::find(rows.begin(), rows.end(), text) != rows.end()) text = p.name;
    rows.push_back(text);
  }
  return rows;
}

std::string MemberDiskIdText(const VolumeMember& member) {
  bool zero = true;
  for (uint8_t b : member.memberDiskId) zero &= b == 0;
  if (zero) return std::string();
  std::string text;
  char hex[3];
  for (size_t i = 0; i < member.memberDiskId.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    std::snprintf(hex, sizeof hex, "%02x", member.memberDiskId[i]);
    text += hex;
  }
  return text;
}

}  // namespace quorvel

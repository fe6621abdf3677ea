#include "volumes/apple/apple_partition_map.h"

#include <vector>

#include "core/scan_progress.h"
#include "fs/fs_recognition.h"
#include "platform/text.h"
#include "volumes/apple/apple_driver_descriptor_layout.h"
#include "volumes/apple/apple_map_entry_layout.h"
#include "volumes/volume_recognition.h"

namespace quorvel {

namespace {

constexpr uint32_t kSector = 512;
// Real maps hold a few dozen entries; a damaged count must not make us read
// megabytes.
constexpr uint32_t kMaxEntries = 1024;

// Apple block sizes are 512 bytes or a power of two above it.
bool IsBlockSize(uint32_t size) { return size >= kSector && size <= 65536 && (size & (size - 1)) == 0; }

std::string EntryText(ByteView entry, size_t offset) {
  std::string text;
  for (size_t i = 0; i < AppleMapEntry::kTextWidth && entry.U8(offset + i) != 0; ++i)
    text.push_back(static_cast<char>(entry.U8(offset + i)));
  return text;
}

bool IsHfsType(const std::string& type) { return type == "Apple_HFS" || type == "Apple_HFSX" || type == "Apple_HFS+"; }

}  // namespace

int ProbeHfsAt(const ByteSource& source, uint64_t startSector, std::string& text) {
  if (startSector > UINT64_MAX / kSector - 2) return 0;
  uint8_t header[kSector];
  source.ReadAt((startSector + 2) * kSector, header);
  switch (ClassifyHfsHeader(header)) {
    case 1:
      text = HfsVolumeName(header);
      return 1;
    case 4:
      text = HfsVolumeName(header);
      return 4;
    case 2:
      text = "only hfs+";
      return 2;
    case 3:
      text = "HFSX";
      return 3;
    default:
      return 0;
  }
}

void ReadApplePartitionMap(ByteView head, const ByteSource& source, DiskRecord& disk) {
  const uint32_t blockSize = head.Be16(AppleDriverDescriptor::kBlockSize);
  if (!IsBlockSize(blockSize)) return;
  const uint64_t sectorsPerBlock = blockSize / kSector;
  std::vector<uint8_t> first(blockSize);
  source.ReadAt(blockSize, first);
  ByteView mapEntry(first);
  if (!mapEntry.Matches(AppleMapEntry::kSignature, "PM")) return;
  const uint32_t entries = mapEntry.Be32(AppleMapEntry::kMapEntryCount);
  disk.mapEntryCount = entries;
  if (entries == 0 || entries > kMaxEntries) return;
  const uint64_t mapBlock = mapEntry.Be32(AppleMapEntry::kFirstBlock);
  std::vector<uint8_t> map(size_t{entries} * blockSize);
  source.ReadAt(mapBlock * blockSize, map);
  int c = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    ByteView entry(map.data() + size_t{i} * blockSize, blockSize);
    // The map ends where its blocks stop being entries.
    if (!entry.Matches(AppleMapEntry::kSignature, "PM")) continue;
    std::string name = EntryText(entry, AppleMapEntry::kName);
    std::string type = EntryText(entry, AppleMapEntry::kType);
    if (name.empty() || !IsHfsType(type)) continue;
    PartitionRecord record;
    record.startSector = uint64_t{entry.Be32(AppleMapEntry::kFirstBlock)} * sectorsPerBlock;
    record.sectorCount = uint64_t{entry.Be32(AppleMapEntry::kBlockCount)} * sectorsPerBlock;
    std::string text;
    int variant = ProbeHfsAt(source, record.startSector, text);
    record.subKindText = variant == 2 || variant == 4 ? "Apple_HFS+" : type;
    record.subKindCode = variant;
    record.volumeLabel = text;
    record.name = variant != 0 ? FormatText("Partition%d", c) : Cp936ToUtf8(name);
    record.devicePath = disk.devicePath;
    record.fsKind = FsKind::kHfsFamily;
    disk.partitions.push_back(std::move(record));
    ++c;
  }
}

void AddWholeDiskHfs(ByteView header, DiskRecord& disk) {
  int variant = ClassifyHfsHeader(header);
  if (variant != 1 && variant != 2 && variant != 4) return;
  PartitionRecord record;
  ApplyHfsVariant(record, variant, header);
  record.name = "Partition0";
  record.startSector = 0;
  uint32_t bytesPerSector = disk.bytesPerSector ? disk.bytesPerSector : kSector;
  record.sectorCount = disk.sizeBytes / bytesPerSector;
  record.devicePath = disk.devicePath;
  disk.partitions.push_back(std::move(record));
}

}  // namespace quorvel

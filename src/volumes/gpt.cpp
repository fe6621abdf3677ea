// GUID partition tables, and the volume inside each partition of a type that
// may hold one.
#include <vector>

#include "core/scan_progress.h"
#include "fs/ext_layout.h"
#include "fs/fs_recognition.h"
#include "fs/hfs_layout.h"
#include "platform/text.h"
#include "volumes/gpt_layout.h"
#include "volumes/partition_walk.h"
#include "volumes/volume_managers.h"

namespace quorvel {

namespace {

constexpr size_t kHeadBytes = 2048;
constexpr uint32_t kMaxGptEntries = 128;
constexpr uint32_t kMaxGptEntrySize = 4096;

// Type GUIDs as the four little-endian words of their on-disk form.
struct Guid {
  uint32_t a, b, c, d;
};
constexpr Guid kBasicDataGuid{0xEBD0A0A2, 0x4433B9E5, 0xB668C087, 0xC79926B7};
constexpr Guid kHfsPlusGuid{0x48465300, 0x11AA0000, 0x300011AA, 0xACEC4365};
constexpr Guid kEfiSystemGuid{0xC12A7328, 0x11D2F81F, 0xA0004BBA, 0x3BC93EC9};
constexpr Guid kLinuxDataGuid{0x0FC63DAF, 0x47728483, 0x693D798E, 0xE47D47D8};
constexpr Guid kLdmMetadataGuid{0x5808C8AA, 0x42E07E8F, 0xE9E1D285, 0xB3CF3404};

bool GuidIs(ByteView p, const Guid& g) {
  return p.Le32(0) == g.a && p.Le32(4) == g.b && p.Le32(8) == g.c && p.Le32(12) == g.d;
}

// Recognises the volume inside a GPT partition of a type that may hold one.
void ProbeGptVolume(PartitionWalk& w, PartitionRecord& record, int c) {
  std::vector<uint8_t> bytes(kHeadBytes);
  w.Read(record.startSector, bytes);
  const ByteView head(bytes);
  const ByteView boot = head.Sub(0, BootSector::kSize);
  const ByteView at1024 = head.Sub(ExtSuperblock::kOffsetInVolume);
  auto withSuffix = [&](uint8_t kind, const char* suffix) {
    record.fsKind = kind;
    record.name += suffix + FormatText("%d", c);
    record.volumeLabel = ReadVolumeLabel(w.source, record.startSector, kind);
  };
  if (IsFat32BootSector(boot)) {
    withSuffix(FsKind::kFat32, "(fat)");
  } else if (IsFat16BootSector(boot)) {
    withSuffix(FsKind::kFat16, "(fat)");
  } else if (IsNtfsBootSector(boot)) {
    withSuffix(FsKind::kNtfs, "(NTFS)");
  } else if (IsExfatBootSector(boot)) {
    withSuffix(FsKind::kExfat, "(exFat)");
  } else if (IsExtSuperblock(at1024)) {
    record.fsKind = FsKind::kLinuxExt;
    record.name += FormatText("Partition%d", c);
    record.linuxSubKind = ExtSubKind(at1024);
    record.volumeLabel = ExtVolumeName(at1024);
    record.sectorCount = ExtVolumeSectors(at1024);
  } else if (int hfs = ClassifyHfsHeader(at1024); hfs != 0) {
    record.fsKind = FsKind::kHfsFamily;
    if (hfs == 1 || hfs == 4) {
      record.subKindCode = hfs;
      record.subKindText = hfs == 4 ? "HFS+ in HFS" : "HFS";
      record.volumeLabel = HfsVolumeName(at1024);
      record.devicePath = w.disk.devicePath;
    } else if (hfs == 2) {
      record.subKindCode = 2;
      record.subKindText = "HFS+";
      record.volumeLabel = "only hfs+";
      record.devicePath = w.disk.devicePath;
    }
  }
}

}  // namespace

bool ReadGpt(PartitionWalk& w, uint64_t headerSector) {
  uint8_t headerBytes[512];
  w.Read(headerSector, headerBytes);
  const ByteView header(headerBytes);
  const uint64_t arraySector = header.Le64(GptHeader::kEntriesLba);
  const uint32_t entries = header.Le32(GptHeader::kEntryCount);
  const uint32_t entrySize = header.Le32(GptHeader::kEntrySize);
  if (entries > kMaxGptEntries) return false;
  // An entry must hold the fields read below; a huge size is no real table.
  if (entrySize < GptEntry::kMinimumSize || entrySize > kMaxGptEntrySize || entries == 0) return true;
  std::vector<uint8_t> array(static_cast<size_t>(entries) * entrySize);
  w.Read(arraySector, array);
  for (uint32_t i = 0; i < entries; ++i) {
    const ByteView e = ByteView(array).Sub(static_cast<size_t>(i) * entrySize, entrySize);
    const uint64_t first = e.Le64(GptEntry::kFirstLba);
    const uint64_t last = e.Le64(GptEntry::kLastLba);
    // Unused slots may sit between used ones; a reversed range is no partition.
    if (first == 0 || last < first) continue;
    PartitionRecord record;
    record.startSector = first;
    record.sectorCount = last - first + 1;
    record.name = Utf16LeToUtf8(e.Sub(GptEntry::kName, 2 * GptEntry::kNameUnits), true);
    const int c = w.counter;
    const ByteView type = e.Sub(GptEntry::kTypeGuid, 16);
    if (GuidIs(type, kBasicDataGuid) || GuidIs(type, kHfsPlusGuid) || GuidIs(type, kEfiSystemGuid) ||
        GuidIs(type, kLinuxDataGuid))
      ProbeGptVolume(w, record, c);
    else if (GuidIs(type, kLdmMetadataGuid))
      ReadGptDynamicDisk(w.disk, w.source, record.startSector, record.sectorCount);
    ++w.counter;
    w.Append(std::move(record));
  }
  return true;
}

}  // namespace quorvel

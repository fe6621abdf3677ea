// Building the DiskList: physical disks, image files and the partition walk.
#include "volumes/disk_enumeration.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "core/byte_order.h"
#include "core/scan_progress.h"
#include "fs/fs_recognition.h"
#include "platform/physical_disks.h"
#include "platform/text.h"
#include "volumes/ldm/ldm_group.h"
#include "volumes/volume_managers.h"

namespace quorvel {

namespace {

constexpr size_t kHeadBytes = 2048;
constexpr uint32_t kMaxGptEntries = 128;
constexpr uint32_t kMaxGptEntrySize = 4096;
// Deep enough for any real extended chain, short enough that a chain that
// loops through ever-new sectors still ends quickly.
constexpr int kMaxEbrDepth = 1024;

bool IsExtendedType(uint8_t type) { return type == 0x05 || type == 0x0F; }

// The walk's running state for one disk.
struct Walk {
  DiskRecord& disk;
  SectorDevice& device;
  const std::string& path;
  int counter = 0;
  std::set<uint64_t> visitedEbrs;
};

PartitionRecord& AppendRecord(Walk& w, PartitionRecord record) {
  w.disk.partitions.push_back(std::move(record));
  return w.disk.partitions.back();
}

PartitionRecord NewRecord(Walk& w) {
  PartitionRecord record;
  record.name = FormatText("Partition%d", w.counter);
  ++w.counter;
  return record;
}

// A partition-table entry that is neither empty, extended nor a GPT guard.
void AddTableEntry(Walk& w, uint8_t type, uint64_t start, uint64_t count, uint8_t role) {
  if (type == FsKind::kDynamicContainer) {
    ReadDynamicDiskDatabase(w.disk, w.device, w.path);
    return;
  }
  PartitionRecord record = NewRecord(w);
  record.fsKind = type;
  record.startSector = start;
  record.sectorCount = count;
  record.role = role;
  if (type == FsKind::kNtfs) {
    uint8_t boot[512];
    w.device.ReadAt(start * kSectorSize, boot, sizeof boot);
    if (IsExfatBootSector(boot)) record.fsKind = FsKind::kExfat;
  }
  if (type == FsKind::kLinuxExt) {
    uint8_t sb[1024];
    w.device.ReadAt((start + 2) * kSectorSize, sb, sizeof sb);
    // Type 0x83 also holds swap, XFS and others: only a real superblock names a kind.
    if (IsExtSuperblock(sb)) {
      record.linuxSubKind = ExtSubKind(sb);
      record.volumeLabel = ExtVolumeName(sb);
    }
  } else {
    record.volumeLabel = ReadVolumeLabel(w.device, start, record.fsKind);
  }
  AppendRecord(w, std::move(record));
}

// An extended boot record at base + offset; `checkSignature` is false for the
// first record of a chain, whose entries are taken as they stand.
void WalkExtendedChain(Walk& w, uint64_t base, uint64_t offset, bool checkSignature, int depth) {
  uint64_t sector = base + offset;
  if (depth > kMaxEbrDepth || !w.visitedEbrs.insert(sector).second) return;
  uint8_t ebr[512];
  w.device.ReadAt(sector * kSectorSize, ebr, sizeof ebr);
  if (checkSignature && !(ebr[510] == 0x55 && ebr[511] == 0xAA)) return;
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = ebr + 446 + 16 * i;
    uint8_t type = e[4];
    uint32_t first = LoadLe32(e + 8);
    uint32_t count = LoadLe32(e + 12);
    if (type == 0 || count == 0) continue;
    if (IsExtendedType(type)) {
      WalkExtendedChain(w, base, first, true, depth + 1);
    } else {
      AddTableEntry(w, type, sector + first, count, 2);
    }
  }
}

struct Guid {
  uint32_t a, b, c, d;
};

bool GuidIs(const uint8_t* p, const Guid& g) {
  return LoadLe32(p) == g.a && LoadLe32(p + 4) == g.b && LoadLe32(p + 8) == g.c && LoadLe32(p + 12) == g.d;
}

// Type GUIDs as the four little-endian words of their on-disk form.
constexpr Guid kBasicDataGuid{0xEBD0A0A2, 0x4433B9E5, 0xB668C087, 0xC79926B7};
constexpr Guid kHfsPlusGuid{0x48465300, 0x11AA0000, 0x300011AA, 0xACEC4365};
constexpr Guid kEfiSystemGuid{0xC12A7328, 0x11D2F81F, 0xA0004BBA, 0x3BC93EC9};
constexpr Guid kLinuxDataGuid{0x0FC63DAF, 0x47728483, 0x693D798E, 0xE47D47D8};
constexpr Guid kLdmMetadataGuid{0x5808C8AA, 0x42E07E8F, 0xE9E1D285, 0xB3CF3404};

// Recognises the volume inside a GPT partition of a type that may hold one.
void ProbeGptVolume(Walk& w, PartitionRecord& record, int c) {
  std::vector<uint8_t> head(kHeadBytes);
  w.device.ReadAt(record.startSector * kSectorSize, head.data(), head.size());
  const uint8_t* boot = head.data();
  const uint8_t* at1024 = head.data() + 1024;
  auto withSuffix = [&](uint8_t kind, const char* suffix) {
    record.fsKind = kind;
    record.name += suffix + FormatText("%d", c);
    record.volumeLabel = ReadVolumeLabel(w.device, record.startSector, kind);
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

// Reads the GPT whose header lies at headerSector. Returns false when the walk
// of this disk must stop (an entry count above 128).
bool ReadGpt(Walk& w, uint64_t headerSector) {
  uint8_t header[512];
  w.device.ReadAt(headerSector * kSectorSize, header, sizeof header);
  uint64_t arraySector = LoadLe64(header + 0x48);
  uint32_t entries = LoadLe32(header + 0x50);
  uint32_t entrySize = LoadLe32(header + 0x54);
  if (entries > kMaxGptEntries) return false;
  // An entry must hold the fields read below; a huge size is no real table.
  if (entrySize < 128 || entrySize > kMaxGptEntrySize || entries == 0) return true;
  if (arraySector > UINT64_MAX / kSectorSize) return true;
  std::vector<uint8_t> array(static_cast<size_t>(entries) * entrySize);
  w.device.ReadAt(arraySector * kSectorSize, array.data(), array.size());
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* e = array.data() + static_cast<size_t>(i) * entrySize;
    uint64_t first = LoadLe64(e + 32);
    uint64_t last = LoadLe64(e + 40);
    // Unused slots may sit between used ones; a reversed range is no partition.
    if (first == 0 || last < first) continue;
    PartitionRecord record;
    record.startSector = first;
    record.sectorCount = last - first + 1;
    record.name = Utf16LeToUtf8(e + 56, 36, true);
    int c = w.counter;
    if (GuidIs(e, kBasicDataGuid) || GuidIs(e, kHfsPlusGuid) || GuidIs(e, kEfiSystemGuid) ||
        GuidIs(e, kLinuxDataGuid)) {
      ProbeGptVolume(w, record, c);
    } else if (GuidIs(e, kLdmMetadataGuid)) {
      ReadGptDynamicDisk(w.disk, w.path, record.startSector, record.sectorCount);
    }
    ++w.counter;
    AppendRecord(w, std::move(record));
  }
  return true;
}

// Sector 0 holds a volume's own boot sector rather than an MBR.
bool IsVolumeBootSector(const uint8_t* s) {
  if (s[0] == 0xEB && s[2] == 0x90 && s[1] != 0x48 && s[1] != 0x63) return true;
  return s[0] == 0xE9 && s[11] == 0x00 && s[12] == 0x02;
}

void AddWholeDiskVolume(Walk& w, const uint8_t* boot) {
  PartitionRecord record = NewRecord(w);
  record.startSector = 0;
  if (IsNtfsBootSector(boot)) {
    record.fsKind = FsKind::kNtfs;
    record.sectorCount = LoadLe64(boot + 0x28);
  } else if (IsFat32BootSector(boot)) {
    record.fsKind = FsKind::kFat32Lba;
    record.sectorCount = LoadLe32(boot + 0x20);
  } else if (IsFat16BootSector(boot)) {
    record.fsKind = FsKind::kFat16;
    record.sectorCount = LoadLe32(boot + 0x20);
    if (record.sectorCount == 0) record.sectorCount = LoadLe16(boot + 0x13);
  } else if (IsExfatBootSector(boot)) {
    record.fsKind = FsKind::kExfat;
    record.sectorCount = LoadLe64(boot + 0x48);
  }
  record.volumeLabel = ReadVolumeLabel(w.device, 0, record.fsKind);
  AppendRecord(w, std::move(record));
}

void AddWholeDiskExt(Walk& w, const uint8_t* sb) {
  PartitionRecord record = NewRecord(w);
  record.fsKind = FsKind::kLinuxExt;
  record.linuxSubKind = ExtSubKind(sb);
  record.startSector = 0;
  record.sectorCount = ExtVolumeSectors(sb);
  record.volumeLabel = ExtVolumeName(sb);
  AppendRecord(w, std::move(record));
}

void WalkMbr(Walk& w, const uint8_t* mbr) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = mbr + 446 + 16 * i;
    uint8_t type = e[4];
    uint32_t first = LoadLe32(e + 8);
    uint32_t count = LoadLe32(e + 12);
    if (type == 0 || count == 0 || IsExtendedType(type)) continue;
    if (type == FsKind::kGptProtective) {
      // Protective MBRs of disks under 2 TiB count the disk's size, so the
      // header itself decides whether a GPT is there.
      uint8_t header[512];
      w.device.ReadAt(static_cast<uint64_t>(first) * kSectorSize, header, sizeof header);
      if (std::memcmp(header, "EFI PART", 8) == 0) {
        if (!ReadGpt(w, first)) return;
        continue;
      }
    }
    AddTableEntry(w, type, first, count, 1);
  }
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = mbr + 446 + 16 * i;
    if (!IsExtendedType(e[4]) || LoadLe32(e + 12) == 0) continue;
    WalkExtendedChain(w, LoadLe32(e + 8), 0, false, 0);
  }
}

bool IsPrintable(unsigned char ch) { return ch >= 0x20 && ch < 0x7F; }

int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

}  // namespace

std::string CleanIdentifier(const std::string& raw) {
  std::string decoded;
  bool hex = !raw.empty() && raw.size() % 2 == 0;
  bool ended = false;
  for (size_t i = 0; hex && i + 1 < raw.size(); i += 2) {
    auto digit = [](char ch) {
      ch = ch == ' ' ? '0' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      return HexValue(ch);
    };
    int hi = digit(raw[i]);
    int lo = digit(raw[i + 1]);
    if (hi < 0 || lo < 0) {
      hex = false;
      break;
    }
    unsigned char byte = static_cast<unsigned char>(hi * 16 + lo);
    if (byte != 0 && !IsPrintable(byte)) hex = false;
    if (byte == 0) ended = true;  // the decoded text ends at its first zero byte
    if (hex && !ended) decoded.push_back(static_cast<char>(byte));
  }
  std::string text;
  if (hex) {
    text = decoded;
  } else {
    for (char ch : raw) {
      if (!IsPrintable(static_cast<unsigned char>(ch))) break;
      text.push_back(ch);
    }
  }
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

void WalkPartitions(DiskRecord& disk, SectorDevice& device, const std::string& path) {
  Walk w{disk, device, path, 0, {}};
  std::vector<uint8_t> head(kHeadBytes);
  device.ReadAt(0, head.data(), head.size());
  const uint8_t* s = head.data();
  if (!(s[510] == 0x55 && s[511] == 0xAA)) {
    if (std::memcmp(s + 512, "LABELONE", 8) == 0) {
      ReadLvm2Volumes(disk, device, path);
    } else if (IsExtSuperblock(s + 1024)) {
      AddWholeDiskExt(w, s + 1024);
    } else if (s[0] == 'E' && s[1] == 'R') {
      WalkApplePartitionMap(s, disk, device);
    } else {
      ProbeWholeDiskHfs(s + 1024, disk);
    }
    return;
  }
  if (IsVolumeBootSector(s)) {
    AddWholeDiskVolume(w, s);
    return;
  }
  WalkMbr(w, s);
}

int OpenImageFile(DiskList& list, const std::string& path) {
  SectorDevice device;
  if (!OpenDevice(path, device)) return 0;
  DiskRecord disk;
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  disk.devicePath = ec ? path : full.string();
  size_t slash = disk.devicePath.find_last_of('/');
  disk.vendor = slash == std::string::npos ? disk.devicePath : disk.devicePath.substr(slash + 1);
  disk.sizeBytes = device.Size();
  WalkPartitions(disk, device, disk.devicePath);
  disk.cylinders = static_cast<uint32_t>(disk.sizeBytes / 512 / 255 / 63);
  disk.tracksPerCylinder = 255;
  disk.sectorsPerTrack = 63;
  list.push_back(std::move(disk));
  AssembleDiskGroups(list);
  return 1;
}

int EnumerateDisks(DiskList& list) { return EnumerateDisks(list, nullptr); }

int EnumerateDisks(DiskList& list, std::vector<std::string>* unreadable) {
  std::vector<PhysicalDiskInfo> found = ListPhysicalDisks();
  for (const PhysicalDiskInfo& info : found) {
    SectorDevice device;
    if (!OpenDevice(info.path, device)) {
      if (unreadable) unreadable->push_back(info.path + ": " + std::strerror(errno));
      continue;
    }
    DiskRecord disk;
    disk.devicePath = info.path;
    disk.diskNumber = FormatText("%d", info.number);
    disk.vendor = CleanIdentifier(info.vendor);
    disk.product = CleanIdentifier(info.model);
    disk.revision = CleanIdentifier(info.revision);
    disk.sizeBytes = info.sizeBytes ? info.sizeBytes : device.Size();
    disk.fixedMedia = info.fixed ? 1 : 0;
    WalkPartitions(disk, device, disk.devicePath);
    disk.cylinders = info.cylinders;
    disk.tracksPerCylinder = info.heads;
    disk.sectorsPerTrack = info.sectorsPerTrack;
    list.push_back(std::move(disk));
  }
  AssembleDiskGroups(list);
  AttachMountPoints(list);
  return 1;
}

void AttachMountPoints(DiskList& list) { AttachMountPoints(list, ListMountedPartitions()); }

void AttachMountPoints(DiskList& list, const std::vector<MountedPartition>& mounts) {
  for (const MountedPartition& mount : mounts) {
    for (DiskRecord& disk : list) {
      if (disk.diskNumber.empty() || disk.devicePath != "/dev/" + mount.diskName) continue;
      for (PartitionRecord& partition : disk.partitions) {
        if (partition.volumeKind == kPlainVolume && partition.startSector == mount.startSector &&
            partition.driveLetter.empty())
          partition.driveLetter = mount.mountPoint;
      }
    }
  }
}

}  // namespace quorvel

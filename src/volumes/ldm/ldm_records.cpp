#include "volumes/ldm/ldm_records.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "volumes/ldm/ldm_database_header.h"
#include "volumes/ldm/ldm_private_header.h"
#include "volumes/ldm/ldm_vblk_layout.h"

namespace quorvel {

namespace {

constexpr size_t kSector = 512;
constexpr size_t kRecordHeader = LdmVblk::kData;
// Larger records continue in further VBLKs, which are not read.
constexpr uint32_t kMaxRecordData = 128;
constexpr size_t kMaxNameLength = 63;
constexpr size_t kMaxSecondText = 127;
// Windows keeps the database in a 1 MiB area; this leaves ample room and
// still bounds what a damaged header can make us read.
constexpr uint64_t kMaxDatabaseBytes = 64ull << 20;

enum RecordType : uint8_t {
  kComponent = 0x32,
  kPartition = 0x33,
  kDisk = 0x34,
  kGroup = 0x35,
  kDiskNewer = 0x44,
  kGroupNewer = 0x45,
  kVolume = 0x51,
};

// Reads the fields of one record in order. A field that runs past the
// record's end marks the cursor bad; the record is then dropped.
class RecordCursor {
 public:
  RecordCursor(ByteView record, size_t at) : v_(record), at_(at) {}

  bool ok() const { return ok_; }
  uint8_t Byte() {
    Need(1);
    return ok_ ? v_.U8(at_++) : 0;
  }
  void Skip(size_t n) { Need(n), at_ += ok_ ? n : 0; }
  uint64_t Be64() {
    Need(8);
    if (!ok_) return 0;
    uint64_t value = v_.Be64(at_);
    at_ += 8;
    return value;
  }
  // A length byte L and L big-endian bytes; more than 8 bytes read as 0.
  uint64_t Number() {
    size_t length = Byte();
    Need(length);
    if (!ok_) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) value = value << 8 | v_.U8(at_ + i);
    at_ += length;
    return length > 8 ? 0 : value;
  }
  // A length byte and that many bytes, of which at most keep are returned.
  std::string Text(size_t keep = SIZE_MAX) {
    size_t length = Byte();
    Need(length);
    if (!ok_) return std::string();
    std::string text(reinterpret_cast<const char*>(v_.data() + at_), std::min(length, keep));
    at_ += length;
    return text;
  }

 private:
  void Need(size_t n) {
    if (!v_.Has(at_, n)) ok_ = false;
  }
  ByteView v_;
  size_t at_;
  bool ok_ = true;
};

bool ParseComponent(RecordCursor& c, uint8_t flags, LdmComponent& out) {
  c.Text();  // state
  out.type = c.Byte();
  c.Skip(4);
  out.children = c.Number();
  c.Skip(16);
  out.parentId = c.Number();
  if (flags & LdmRecordFlag::kComponentStripe) {
    c.Skip(1);
    out.stripeSize = c.Number();
  }
  return c.ok();
}

bool ParsePartition(RecordCursor& c, LdmPartition& out) {
  c.Skip(12);
  out.start = c.Be64();
  out.volumeOffset = c.Be64();
  out.size = c.Number();
  out.parentId = c.Number();
  out.diskId = c.Number();
  return c.ok();
}

bool ParseDisk(RecordCursor& c, LdmDisk& out) {
  std::string guid = c.Text();
  c.Text(kMaxSecondText);
  return c.ok() && ParseGuidText(guid, out.guid);
}

bool ParseVolume(RecordCursor& c, uint8_t flags, LdmVolume& out) {
  out.typeText = c.Text();
  c.Text();
  c.Skip(21);
  out.children = c.Number();
  c.Skip(16);
  out.size = c.Number();
  c.Skip(4);
  out.partitionType = c.Byte();
  c.Skip(16);  // the volume's GUID
  for (uint8_t bit : {LdmRecordFlag::kVolumeFirstId, LdmRecordFlag::kVolumeSecondId, LdmRecordFlag::kVolumeSecondSize})
    if (flags & bit) c.Text();
  if (flags & LdmRecordFlag::kVolumeDriveHint) out.driveHint = c.Text(3);
  // Hints are "E:" with padding; keep the letter and its colon.
  while (!out.driveHint.empty() && (out.driveHint.back() == ' ' || out.driveHint.back() == '\0'))
    out.driveHint.pop_back();
  return c.ok();
}

template <typename Record>
Record Named(uint64_t id, const std::string& name) {
  Record record;
  record.id = id;
  record.name = name;
  return record;
}

}  // namespace

void ParseLdmRecord(ByteView slot, LdmDatabase& db) {
  if (!slot.Has(0, kRecordHeader)) return;
  if (!slot.Matches(LdmVblk::kMagic, "VBLK") && !slot.Matches(LdmVblk::kMagic, "KLOG")) return;
  // A record split over several VBLKs: its parts after the first hold no
  // header of their own, so none of them can be read alone.
  if (slot.Be16(LdmVblk::kPartCount) > 1) {
    ++db.multiPartRecords;
    return;
  }
  uint32_t dataSize = slot.Be32(LdmVblk::kDataSize);
  if (dataSize == 0) return;
  if (dataSize > kMaxRecordData) {
    ++db.multiPartRecords;
    return;
  }
  uint8_t flags = slot.U8(LdmVblk::kRecordFlags);
  uint8_t type = slot.U8(LdmVblk::kRecordType);
  ByteView record = slot.Sub(0, kRecordHeader + dataSize);
  if (record.U8(kRecordHeader) >= 0x80) return;  // object ids are short numbers
  RecordCursor c(record, kRecordHeader);
  uint64_t id = c.Number();
  std::string name = c.Text(kMaxNameLength);
  if (!c.ok()) return;
  switch (type) {
    case kComponent: {
      auto component = Named<LdmComponent>(id, name);
      if (ParseComponent(c, flags, component)) db.components.push_back(std::move(component));
      break;
    }
    case kPartition: {
      auto partition = Named<LdmPartition>(id, name);
      if (ParsePartition(c, partition)) db.partitions.push_back(std::move(partition));
      break;
    }
    case kDiskNewer:
      ++db.newerRevisionRecords;
      [[fallthrough]];
    case kDisk: {
      auto disk = Named<LdmDisk>(id, name);
      if (ParseDisk(c, disk)) db.disks.push_back(std::move(disk));
      break;
    }
    case kGroupNewer:
      ++db.newerRevisionRecords;
      [[fallthrough]];
    case kGroup:
      db.groups.push_back(Named<LdmGroup>(id, name));
      break;
    case kVolume: {
      auto volume = Named<LdmVolume>(id, name);
      if (ParseVolume(c, flags, volume)) db.volumes.push_back(std::move(volume));
      break;
    }
    default:
      break;
  }
}

bool ReadLdmDatabase(const ByteSource& disk, const LdmDiskValues& header, LdmDatabaseValues& values, LdmDatabase& db) {
  const uint64_t headerSector = header.configStart + kLdmDatabaseHeaderSector;
  if (headerSector > UINT64_MAX / kSector) return false;
  uint8_t vmdb[kSector];
  if (!disk.ReadFull(headerSector * kSector, vmdb)) return false;
  LdmDatabaseValues v;
  if (!ParseLdmDatabaseHeader(ByteView(vmdb, sizeof vmdb), v)) return false;
  // A slot must hold the record header and divide the sector evenly.
  if (v.recordSize < kRecordHeader + 2 || v.recordSize > kSector || kSector % v.recordSize != 0) return false;
  const uint64_t size = uint64_t{v.recordSize} * v.lastSequence;
  if (size / kSector >= header.configSize || size > kMaxDatabaseBytes) return false;
  std::vector<uint8_t> area(static_cast<size_t>(size));
  if (disk.ReadAt(headerSector * kSector + v.firstRecordOffset, area) != area.size()) return false;
  const size_t perSector = kSector / v.recordSize;
  const size_t sectors = size / kSector;
  for (size_t s = 0; s + 1 < sectors; ++s) {
    for (size_t r = 0; r < perSector; ++r) {
      ParseLdmRecord(ByteView(area.data() + s * kSector + r * v.recordSize, v.recordSize), db);
    }
  }
  values = v;
  return true;
}

}  // namespace quorvel

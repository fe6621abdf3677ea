// The MBR and its extended boot records.
#include "fs/fs_recognition.h"
#include "platform/text.h"
#include "volumes/gpt_layout.h"
#include "volumes/mbr_layout.h"
#include "volumes/partition_walk.h"
#include "volumes/volume_managers.h"

namespace quorvel {

namespace {

// Deep enough for any real extended chain, short enough that a chain that
// loops through ever-new sectors still ends quickly.
constexpr int kMaxEbrDepth = 1024;

bool IsExtendedType(uint8_t type) { return type == 0x05 || type == 0x0F; }

struct TableEntry {
  uint8_t type = 0;
  uint32_t first = 0;
  uint32_t count = 0;
};

TableEntry EntryAt(ByteView table, int slot) {
  const ByteView e = table.Sub(Mbr::kTable + Mbr::kEntrySize * static_cast<size_t>(slot), Mbr::kEntrySize);
  return {e.U8(MbrEntry::kType), e.Le32(MbrEntry::kFirstSector), e.Le32(MbrEntry::kSectorCount)};
}

// A partition-table entry that is neither empty, extended nor a GPT guard.
void AddTableEntry(PartitionWalk& w, uint8_t type, uint64_t start, uint64_t count, uint8_t role) {
  if (type == FsKind::kDynamicContainer) {
    ReadDynamicDiskDatabase(w.disk, w.source, w.path);
    return;
  }
  PartitionRecord record = w.NewRecord();
  record.fsKind = type;
  record.startSector = start;
  record.sectorCount = count;
  record.role = role;
  if (type == FsKind::kNtfs) {
    uint8_t boot[512];
    w.Read(start, boot);
    if (IsExfatBootSector(boot)) record.fsKind = FsKind::kExfat;
  }
  if (type == FsKind::kLinuxExt) {
    uint8_t sb[1024];
    w.source.ReadAt(start * w.source.SectorSize() + 1024, sb);
    // Type 0x83 also holds swap, XFS and others: only a real superblock names a kind.
    if (IsExtSuperblock(sb)) {
      record.linuxSubKind = ExtSubKind(sb);
      record.volumeLabel = ExtVolumeName(sb);
    }
  } else {
    record.volumeLabel = ReadVolumeLabel(w.source, start, record.fsKind);
  }
  w.Append(std::move(record));
}

// An extended boot record at base + offset; `checkSignature` is false for the
// first record of a chain, whose entries are taken as they stand.
void WalkExtendedChain(PartitionWalk& w, uint64_t base, uint64_t offset, bool checkSignature, int depth) {
  const uint64_t sector = base + offset;
  if (depth > kMaxEbrDepth || !w.visitedEbrs.insert(sector).second) return;
  uint8_t ebr[Mbr::kSize];
  w.Read(sector, ebr);
  if (checkSignature && !HasBootSignature(ebr)) return;
  for (int i = 0; i < Mbr::kEntries; ++i) {
    const TableEntry e = EntryAt(ebr, i);
    if (e.type == 0 || e.count == 0) continue;
    if (IsExtendedType(e.type))
      WalkExtendedChain(w, base, e.first, true, depth + 1);
    else
      AddTableEntry(w, e.type, sector + e.first, e.count, 2);
  }
}

}  // namespace

void WalkMbr(PartitionWalk& w, ByteView mbr) {
  for (int i = 0; i < Mbr::kEntries; ++i) {
    const TableEntry e = EntryAt(mbr, i);
    if (e.type == 0 || e.count == 0 || IsExtendedType(e.type)) continue;
    if (e.type == FsKind::kGptProtective) {
      // Protective MBRs of disks under 2 TiB count the disk's size, so the
      // header itself decides whether a GPT is there.
      uint8_t header[512];
      w.Read(e.first, header);
      if (ByteView(header).Matches(GptHeader::kSignature, "EFI PART")) {
        if (!ReadGpt(w, e.first)) return;
        continue;
      }
    }
    AddTableEntry(w, e.type, e.first, e.count, 1);
  }
  for (int i = 0; i < Mbr::kEntries; ++i) {
    const TableEntry e = EntryAt(mbr, i);
    if (!IsExtendedType(e.type) || e.count == 0) continue;
    WalkExtendedChain(w, e.first, 0, false, 0);
  }
}

}  // namespace quorvel

// Listing an NTFS partition from the stretches of MFT records a deep scan
// found, when the boot sector's MFT cannot be trusted. No parent records are
// read: entries whose parent is not known yet wait under the root and are
// moved once every stretch has been swept.
#include <algorithm>
#include <utility>
#include <vector>

#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_placement.h"
#include "fs/ntfs/mft_scan.h"
#include "io/sector_buffer.h"
#include "io/volume_source.h"

namespace quorvel {

namespace {

constexpr size_t kChunkBytes = size_t{61440} * 512;  // 30 MiB per read
constexpr uint64_t kFirstUserRecord = 27;            // records below are metafiles

// True when `target` is `entry` or lies somewhere below it.
bool Contains(const NtfsFileEntry& entry, const NtfsFileEntry* target) {
  std::vector<const NtfsFileEntry*> stack{&entry};
  while (!stack.empty()) {
    const NtfsFileEntry* e = stack.back();
    stack.pop_back();
    if (e == target) return true;
    for (const NtfsFileEntry& child : e->children) stack.push_back(&child);
  }
  return false;
}

}  // namespace

bool ScanMftFragments(ScanProgress& progress, DiskRecord& disk, PartitionRecord& partition,
                      const MftFragmentList& fragments, MftFragmentList::const_iterator first) {
  std::unique_ptr<ByteSource> source = OpenPartitionSource(disk, partition);
  if (!source) return false;
  return ScanMftFragments(*source, progress, partition, fragments, first);
}

bool ScanMftFragments(const ByteSource& source, ScanProgress& progress, PartitionRecord& partition,
                      const MftFragmentList& fragments, MftFragmentList::const_iterator first) {
  const uint64_t start = partition.startSector;
  const uint64_t end = start + partition.sectorCount;
  auto inside = [&](const MftFragment& f) { return f.startSector > start && f.startSector < end; };

  MftTreeBuilder builder(*partition.tree);
  builder.ResetSpecialFolders(true);
  NtfsFileEntry& root = partition.tree->ntfsRoot;
  partition.ntfs.recordSectors.clear();
  partition.ntfs.extraRecordSectors.clear();

  uint64_t total = 0;
  for (auto it = first; it != fragments.end() && it->startSector < end; ++it)
    if (inside(*it)) total += it->sectorCount;
  progress.SetText("");
  progress.Range(total, 0);

  // Parent sequence numbers of the entries left waiting under the root.
  std::unordered_map<const NtfsFileEntry*, uint16_t> waitingParentSequence;
  const uint64_t bytesPerSector = NtfsSectorBytes(partition);
  const size_t recordBytes = MftRecordBytes(partition);
  SectorBuffer chunk(kChunkBytes);
  if (chunk.size() == 0) return false;
  uint64_t examinedBytes = 0;
  uint64_t examined = 0;
  for (auto it = first; it != fragments.end() && it->startSector < end; ++it) {
    if (!inside(*it)) continue;
    const uint64_t fragmentBytes = uint64_t{it->sectorCount} * bytesPerSector;
    for (uint64_t offset = 0; offset < fragmentBytes; offset += kChunkBytes) {
      if (progress.StopRequested()) return false;
      const size_t length = static_cast<size_t>(std::min<uint64_t>(kChunkBytes, fragmentBytes - offset));
      const std::span<uint8_t> piece = chunk.span().first(length);
      source.ReadAt(it->startSector * bytesPerSector + offset, piece);
      // The display moves once per chunk: per record, formatting the text
      // and reaching the sink's lock cost more than the record itself.
      const uint64_t examinedBefore = examined;
      for (size_t at = 0; at + recordBytes <= length; at += recordBytes) {
        examinedBytes += recordBytes;
        const std::span<uint8_t> record = piece.subspan(at, recordBytes);
        if (!FixUpFileRecord(record)) continue;
        const ByteView view(record);
        // No stored number, and no MFT to count places in.
        if (view.Le16(MftRecord::kUpdateSequenceOffset) == MftRecord::kOlderLayoutUsaOffset) continue;
        const uint64_t number = view.Le32(MftRecord::kRecordNumber);
        if (number < kFirstUserRecord) continue;
        const uint64_t sector = it->startSector + (offset + at) / bytesPerSector;
        if (!partition.ntfs.recordSectors.emplace(number, sector).second)
          partition.ntfs.extraRecordSectors.emplace(number, sector);
        ++examined;
        RecordDetails details;
        if (!DecodeMftRecord(view, number, details, source, partition, partition.ntfs.mftRuns, kMainRecord)) continue;
        if (!IsListedRecord(details)) continue;
        PendingEntry pending = PendingEntryFromDetails(details);
        NtfsFileEntry* parent = builder.KnownParent(pending.entry.parentNumber, pending.parentSequence);
        const uint16_t parentSequence = pending.parentSequence;
        NtfsFileEntry* placed = builder.Insert(parent ? *parent : root, std::move(pending));
        if (!parent) waitingParentSequence[placed] = parentSequence;
      }
      progress.Pos(examinedBytes / bytesPerSector);
      if (examined != examinedBefore)
        progress.SetText(FormatText("%llu 项被找到", static_cast<unsigned long long>(examined)));
    }
  }

  // Entries that waited under the root go to their parents now, or to their
  // parent number's placeholder; never into their own subtree.
  std::vector<std::list<NtfsFileEntry>::iterator> waiting;
  for (auto it = root.children.begin(); it != root.children.end(); ++it)
    if (it->parentNumber != 5) waiting.push_back(it);
  for (auto it : waiting) {
    auto sequence = waitingParentSequence.find(&*it);
    NtfsFileEntry* target =
        builder.KnownParent(it->parentNumber, sequence == waitingParentSequence.end() ? 0 : sequence->second);
    if (!target || target == &root || Contains(*it, target)) target = builder.PlaceholderFor(it->parentNumber);
    builder.MoveFromRoot(it, *target);
  }
  return true;
}

}  // namespace quorvel

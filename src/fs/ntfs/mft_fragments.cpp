// Listing an NTFS partition from the stretches of MFT records a deep scan
// found, when the boot sector's MFT cannot be trusted. No parent records are
// read: entries whose parent is not known yet wait under the root and are
// moved once every stretch has been swept.
#include <algorithm>
#include <vector>

#include "core/byte_order.h"
#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_placement.h"
#include "fs/ntfs/mft_scan.h"

namespace quorvel {

namespace {

constexpr uint32_t kChunkSectors = 61440;
constexpr uint64_t kFirstUserRecord = 27;  // records below are metafiles

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
  SectorDevice device;
  const std::string path = partition.devicePath.empty() ? disk.devicePath : partition.devicePath;
  if (!OpenPartitionDevice(partition, path, device)) return false;
  SectorDevice* source = device.IsOpen() ? &device : nullptr;

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
  std::vector<uint8_t> chunk(size_t{kChunkSectors} * kSectorSize);
  uint64_t examinedSectors = 0;
  uint64_t examined = 0;
  for (auto it = first; it != fragments.end() && it->startSector < end; ++it) {
    if (!inside(*it)) continue;
    for (uint64_t offset = 0; offset < it->sectorCount; offset += kChunkSectors) {
      if (progress.StopRequested()) return false;
      const uint64_t length = std::min<uint64_t>(kChunkSectors, it->sectorCount - offset);
      ReadVolumeBytes(partition, source, it->startSector - start + offset, chunk.data(), length * kSectorSize);
      for (uint64_t s = 0; s + 2 <= length; s += 2) {
        examinedSectors += 2;
        progress.Pos(examinedSectors);
        uint8_t* record = chunk.data() + s * kSectorSize;
        if (!FixUpFileRecord(record)) continue;
        if (LoadLe16(record + 4) == 0x2A) continue;  // no stored number, and no MFT to count places in
        const uint64_t number = LoadLe32(record + 0x2C);
        if (number < kFirstUserRecord) continue;
        const uint64_t sector = it->startSector + offset + s;
        if (!partition.ntfs.recordSectors.emplace(number, sector).second)
          partition.ntfs.extraRecordSectors.emplace(number, sector);
        progress.SetText(FormatText("%llu 项被找到", static_cast<unsigned long long>(++examined)));
        RecordDetails details;
        if (!DecodeMftRecord(record, number, details, source, partition, partition.ntfs.mftRuns, kMainRecord)) continue;
        if (!IsListedRecord(details)) continue;
        PendingEntry pending = PendingEntryFromDetails(details);
        NtfsFileEntry* parent = builder.KnownParent(pending.entry.parentNumber, pending.parentSequence);
        NtfsFileEntry* placed = builder.Insert(parent ? *parent : root, pending);
        if (!parent) waitingParentSequence[placed] = pending.parentSequence;
      }
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

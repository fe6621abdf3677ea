#include "fs/ntfs/mft_placement.h"

#include <set>
#include <utility>
#include <vector>

#include "core/scan_progress.h"

namespace quorvel {

namespace {

constexpr uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFull;
// NTFS paths are at most 32767 characters, so no real chain is deeper.
constexpr size_t kMaxChainDepth = 16384;

bool SequenceFits(uint16_t recordSequence, uint8_t recordState, uint16_t wantedSequence) {
  if (wantedSequence == 0 || recordSequence == 0 || recordSequence == wantedSequence) return true;
  // Freeing a record bumps its sequence number; children deleted with it
  // still name the number it had while in use.
  return IsDeletedState(recordState) && recordSequence == static_cast<uint16_t>(wantedSequence + 1);
}

void SetSpecialFolder(NtfsFileEntry& folder, uint64_t number, const char* name) {
  DestroyEntries(folder.children);
  SetEntryState(folder.flags, kFolder);
  folder.recordNumber = number;
  folder.parentNumber = static_cast<uint32_t>(number);
  folder.sequence = 0;
  folder.size = 0;
  folder.creationTime = folder.modificationTime = folder.accessTime = 0;
  folder.name = name;
}

}  // namespace

PendingEntry PendingEntryFromDetails(const RecordDetails& details) {
  PendingEntry pending;
  NtfsFileEntry& entry = pending.entry;
  SetEntryState(entry.flags, details.state);
  entry.recordNumber = details.recordNumber;
  entry.parentNumber = details.fileName.ParentNumber();
  entry.size = details.size;
  entry.creationTime = details.creationTime;
  entry.modificationTime = details.modificationTime;
  entry.accessTime = details.accessTime;
  entry.mftChangeTime = details.mftChangeTime;
  entry.name = details.fileName.name;
  entry.unreadable = details.readShort;
  pending.sequence = details.sequenceNumber;
  pending.parentSequence = static_cast<uint16_t>(details.fileName.parentReference >> 48);
  return pending;
}

bool IsListedRecord(const RecordDetails& details) {
  if ((details.baseReference & kReferenceMask) != 0) return false;  // a piece of another record
  if (details.state == kNoState || !details.hasFileName) return false;
  uint32_t parent = details.fileName.ParentNumber();
  if (parent == 0) return false;
  if (parent == 5 && details.recordNumber < 12) return false;  // the metafiles in the root
  return true;
}

void MftTreeBuilder::ResetSpecialFolders(bool withExtension) {
  SetSpecialFolder(tree_.ntfsRoot, 5, "根目录");
  SetSpecialFolder(tree_.ntfsLost, 2, "零散目录");
  DestroyEntries(tree_.ntfsExtension.children);
  if (withExtension) SetSpecialFolder(tree_.ntfsExtension, 1, "扩展目录");
  tree_.EntryByNumber.clear();
  tree_.PlaceholderByNumber.clear();
  tree_.skipSet.clear();
  placeholders_.clear();
  tree_.EntryByNumber.emplace(5, &tree_.ntfsRoot);
  tree_.EntryByNumber.emplace(2, &tree_.ntfsLost);
  if (withExtension) tree_.EntryByNumber.emplace(1, &tree_.ntfsExtension);
}

bool MftTreeBuilder::IsSequenceMatch(const NtfsFileEntry* parent, uint16_t parentSequence) const {
  // Special folders and placeholders have sequence 0, which fits every reference.
  return SequenceFits(parent->sequence, parent->state(), parentSequence);
}

NtfsFileEntry* MftTreeBuilder::KnownParent(uint32_t parentNumber, uint16_t parentSequence) {
  bool known = false;
  if (NtfsFileEntry* entry = tree_.EntryByNumber.Find(parentNumber)) {
    known = true;
    if (IsFolderState(entry->state()) && IsSequenceMatch(entry, parentSequence)) return entry;
  }
  auto [first, last] = tree_.PlaceholderByNumber.equal_range(parentNumber);
  for (auto it = first; it != last; ++it) {
    known = true;
    if (IsFolderState(it->second->state()) && IsSequenceMatch(it->second, parentSequence)) return it->second;
  }
  return known ? PlaceholderFor(parentNumber) : nullptr;
}

NtfsFileEntry* MftTreeBuilder::PlaceholderFor(uint32_t number) {
  const std::string name = FormatText("$$$Folder%u", number);
  auto [first, last] = tree_.PlaceholderByNumber.equal_range(number);
  for (auto it = first; it != last; ++it)
    if (it->second->name == name && placeholders_.count(it->second)) return it->second;
  NtfsFileEntry placeholder;
  SetEntryState(placeholder.flags, kDeletedFolder);
  placeholder.recordNumber = number;
  placeholder.parentNumber = 2;
  placeholder.name = name;
  NtfsFileEntry* added = AddNtfsChild(tree_.ntfsLost, std::move(placeholder), true);
  tree_.PlaceholderByNumber.emplace(number, added);
  placeholders_.insert(added);
  return added;
}

NtfsFileEntry* MftTreeBuilder::Insert(NtfsFileEntry& parent, PendingEntry pending) {
  const bool folder = IsFolderState(pending.entry.state());
  pending.entry.sequence = pending.sequence;
  NtfsFileEntry* added = AddNtfsChild(parent, std::move(pending.entry), folder);
  if (!tree_.EntryByNumber.emplace(added->recordNumber, added))
    tree_.PlaceholderByNumber.emplace(added->recordNumber, added);
  return added;
}

void MftTreeBuilder::MoveFromRoot(std::list<NtfsFileEntry>::iterator entry, NtfsFileEntry& newParent) {
  auto where = IsFolderState(entry->state()) ? newParent.children.begin() : newParent.children.end();
  newParent.children.splice(where, tree_.ntfsRoot.children, entry);
}

NtfsFileEntry* PlaceSweptEntry(const ByteSource& source, PendingEntry pending, MftTreeBuilder& builder,
                               const PartitionRecord& partition) {
  const NtfsFileEntry& entry = pending.entry;
  if (NtfsFileEntry* parent = builder.KnownParent(entry.parentNumber, pending.parentSequence))
    return builder.Insert(*parent, std::move(pending));
  if (entry.recordNumber == 5) {
    NtfsFileEntry& root = builder.tree().ntfsRoot;
    root.flags = entry.flags;
    root.recordNumber = entry.recordNumber;
    root.parentNumber = entry.parentNumber;
    root.size = entry.size;
    return &root;
  }
  NtfsFileEntry* placed = nullptr;
  ResolveParentChain(source, std::move(pending), placed, builder, partition);
  return placed;
}

bool ResolveParentChain(const ByteSource& source, PendingEntry pending, NtfsFileEntry*& placed, MftTreeBuilder& builder,
                        const PartitionRecord& partition) {
  std::set<uint64_t> onChain{pending.entry.recordNumber};
  std::vector<PendingEntry> chain;  // chain[i + 1] is the parent of chain[i]
  chain.push_back(std::move(pending));
  NtfsFileEntry* anchor = nullptr;
  bool parentRead = false;
  while (!anchor) {
    const uint32_t parentNumber = chain.back().entry.parentNumber;
    const uint16_t parentSequence = chain.back().parentSequence;
    if ((anchor = builder.KnownParent(parentNumber, parentSequence))) break;
    if (onChain.count(parentNumber) || chain.size() > kMaxChainDepth) {
      anchor = builder.PlaceholderFor(parentNumber);  // the chain loops
      break;
    }
    RecordDetails details;
    bool read = ReadMftRecord(source, parentNumber, details, partition, partition.ntfs.mftRuns, kMainRecord);
    if (chain.size() == 1) parentRead = read;
    if (!read || !IsFolderState(details.state) || !details.hasFileName ||
        (details.baseReference & kReferenceMask) != 0 ||
        !SequenceFits(details.sequenceNumber, details.state, parentSequence)) {
      anchor = builder.PlaceholderFor(parentNumber);
      // The parent's record could not be read at all (a failing sector, an
      // image cut short): the folder's name and place are unknown, not gone.
      if (!read && details.readShort) anchor->unreadable = true;
      break;
    }
    chain.push_back(PendingEntryFromDetails(details));
    onChain.insert(parentNumber);
  }
  NtfsFileEntry* target = anchor;
  for (size_t i = chain.size() - 1; i >= 1; --i) {
    builder.tree().skipSet.insert(chain[i].entry.recordNumber);
    target = builder.Insert(*target, std::move(chain[i]));
  }
  placed = builder.Insert(*target, std::move(chain[0]));
  return parentRead;
}

bool ReadEntryRecord(const ByteSource& source, const NtfsFileEntry& entry, const PartitionRecord& partition,
                     RecordDetails& details, bool& mftError) {
  mftError = false;
  if (partition.ntfs.recordSectors.empty())
    return ReadMftRecord(source, entry.recordNumber, details, partition, partition.ntfs.mftRuns);
  mftError = ReadMftRecordByPosition(source, entry.recordNumber, details, partition, partition.ntfs.mftRuns, entry) !=
             RecordByPositionResult::kRead;
  return !mftError;
}

}  // namespace quorvel

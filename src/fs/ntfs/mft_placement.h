#pragma once
// Placing decoded MFT records into a partition's tree by their parent
// references: under the parent's entry when it is known, else by reading the
// parent records up the chain, else under a "$$$Folder%d" placeholder in the
// lost folder.
#include <cstdint>
#include <unordered_set>

#include "fs/ntfs/mft_record.h"
#include "io/byte_source.h"
#include "model/disk_records.h"
#include "model/file_tree.h"

namespace quorvel {

// An entry about to be placed, with the sequence numbers that tell whether a
// record slot still holds the parent this entry was created in.
struct PendingEntry {
  NtfsFileEntry entry;
  uint16_t sequence = 0;        // the record's own sequence number
  uint16_t parentSequence = 0;  // sequence number in the parent reference (0 = unknown)
};

// An NtfsFileEntry (and its sequence numbers) from a decoded record.
PendingEntry PendingEntryFromDetails(const RecordDetails& details);

// True when a swept record is listed: a known state, a name with a parent,
// not a metafile in the root, not a piece of another record.
bool IsListedRecord(const RecordDetails& details);

// The tree being built by one sweep and the bookkeeping that goes with it.
class MftTreeBuilder {
 public:
  explicit MftTreeBuilder(FileTree& tree) : tree_(tree) {}

  // Names, numbers and states of the special folders; empties the NTFS part
  // of the tree. withExtension adds "扩展目录" (record 1).
  void ResetSpecialFolders(bool withExtension);

  // The folder an entry with this parent reference goes into, when the tree
  // already knows the parent; a parent known only as a file (or whose slot
  // was reused since) yields its placeholder. Null when the parent is unknown.
  NtfsFileEntry* KnownParent(uint32_t parentNumber, uint16_t parentSequence);

  // The "$$$Folder%d" placeholder for a number, created in the lost folder
  // when there is none yet.
  NtfsFileEntry* PlaceholderFor(uint32_t number);

  // Moves the entry under parent (folders first, files last) and registers
  // it by number; returns it in the tree.
  NtfsFileEntry* Insert(NtfsFileEntry& parent, PendingEntry pending);

  // Moves an entry that stands among root's children under newParent,
  // keeping its address (so index slots stay valid).
  void MoveFromRoot(std::list<NtfsFileEntry>::iterator entry, NtfsFileEntry& newParent);

  bool IsSequenceMatch(const NtfsFileEntry* parent, uint16_t parentSequence) const;

  FileTree& tree() { return tree_; }

 private:
  FileTree& tree_;
  std::unordered_set<const NtfsFileEntry*> placeholders_;  // made by PlaceholderFor, not read from a record
};

// Places an entry found by the sweep: under its known parent, or (except for
// record 5, which refreshes the root folder) through ResolveParentChain.
NtfsFileEntry* PlaceSweptEntry(const ByteSource& source, PendingEntry pending, MftTreeBuilder& builder,
                               const PartitionRecord& partition);

// Reads the parent records of an entry up to an ancestor the tree knows, then
// places the ancestors (each into the skip set, so the sweep does not list
// them again) and the entry. A parent that cannot be read, is not a folder,
// was replaced in its slot, or closes a loop (a record naming itself or an
// ancestor as its parent) ends the chain: what was read goes under that
// parent number's placeholder in the lost folder. placed receives the
// entry's copy in the tree. True when the entry's parent record was read.
bool ResolveParentChain(const ByteSource& source, PendingEntry pending, NtfsFileEntry*& placed, MftTreeBuilder& builder,
                        const PartitionRecord& partition);

}  // namespace quorvel

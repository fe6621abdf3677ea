#pragma once
// Found files and folders: the tree every reader and scan fills, its indexes,
// and the time texts entries are shown with.
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "model/entry_indexes.h"

namespace quorvel {

enum EntryState : uint8_t {
  kNoState = 0,
  kDeletedFolder = 1,
  kDeletedFile = 2,
  kFolder = 3,
  kFile = 4,
};

enum CheckState : uint8_t { kUnchecked = 0, kChecked = 1, kPartlyChecked = 2 };

inline uint8_t GetEntryState(uint8_t flags) { return flags & 0x0F; }
inline void SetEntryState(uint8_t& flags, uint8_t state) {
  flags = static_cast<uint8_t>((flags & 0xF0) | (state & 0x0F));
}
inline uint8_t GetCheckState(uint8_t flags) { return static_cast<uint8_t>((flags >> 4) & 0x0F); }
inline void SetCheckState(uint8_t& flags, uint8_t check) {
  flags = static_cast<uint8_t>((flags & 0x0F) | ((check & 0x0F) << 4));
}
inline bool IsFolderState(uint8_t state) { return state == kDeletedFolder || state == kFolder; }
inline bool IsDeletedState(uint8_t state) { return state == kDeletedFolder || state == kDeletedFile; }

// "已删除文件夹", "已删除文件", "正常文件夹", "正常文件"; empty for other states.
const char* EntryStateText(uint8_t state);

// The entries' fields are copied one by one (CopyFields in file_tree.cpp):
// a field added here must be added there too.
struct FatFileEntry {
  uint8_t flags = 0;
  // Its data (a folder's directory clusters) could not be read in full: what
  // is listed below it may be incomplete.
  bool unreadable = false;
  uint16_t creationTime = 0;
  uint16_t creationDate = 0;
  uint16_t writeTime = 0;
  uint16_t writeDate = 0;
  uint16_t accessDate = 0;  // FAT keeps the day of the last access only
  uint32_t size = 0;
  uint32_t firstCluster = 0;
  std::string name;  // UTF-8
  FatFileEntry* parent = nullptr;
  std::list<FatFileEntry> children;

  uint8_t state() const { return GetEntryState(flags); }
};

struct NtfsFileEntry {
  uint8_t flags = 0;
  // Its record, a record it continues in, or its parent's record could not
  // be read in full: its size and place may be incomplete.
  bool unreadable = false;
  // The record's sequence number, which tells whether a child's parent
  // reference still means this record; 0 for special folders and placeholders.
  uint16_t sequence = 0;
  uint32_t parentNumber = 0;
  uint64_t recordNumber = 0;
  uint64_t size = 0;
  uint64_t creationTime = 0;      // FILETIME as stored
  uint64_t modificationTime = 0;  // FILETIME
  uint64_t accessTime = 0;        // FILETIME
  uint64_t mftChangeTime = 0;     // FILETIME: when the record itself last changed
  std::string name;               // UTF-8
  std::list<NtfsFileEntry> children;

  uint8_t state() const { return GetEntryState(flags); }
};

// A file found by its content signature; the "Extra Found Files" folder has
// the same shape and lists the disk's CarvedFileMap as its children.
struct CarvedFile {
  uint8_t state = 0;  // 0 when carved; bits 0-1 hold the row's check mark
  uint64_t size = 0;  // bytes; compound documents can pass 4 GiB
  std::string name;
  std::string extension;  // without the dot, e.g. "jpg"
};

using FileEntryRef = std::variant<FatFileEntry*, NtfsFileEntry*>;
using NormalEntryByClusterMap = ClusterIndex;
using DeletedEntryByClusterMap = ClusterIndex;
using EntryByNumberMap = RecordIndex;
using PlaceholderByNumberMap = std::multimap<uint64_t, NtfsFileEntry*>;
using DirectorySectorSet = std::set<uint64_t>;
using CarvedFileMap = std::map<uint64_t, CarvedFile>;

// One partition's tree: the special folders own every entry; the indexes point
// into it. Kept behind a pointer (see FileTreeBox) so moving a PartitionRecord
// never invalidates parent pointers or index slots.
struct FileTree {
  FileTree() = default;
  FileTree(const FileTree&) = delete;
  FileTree& operator=(const FileTree&) = delete;
  ~FileTree();

  FatFileEntry fatRoot;         // "根目录"
  FatFileEntry fatLost;         // "零散目录"
  NtfsFileEntry ntfsRoot;       // "根目录", record 5
  NtfsFileEntry ntfsLost;       // "零散目录", record 2
  NtfsFileEntry ntfsExtension;  // "扩展目录", record 1

  NormalEntryByClusterMap NormalEntryByCluster;
  DeletedEntryByClusterMap DeletedEntryByCluster;

  EntryByNumberMap EntryByNumber;
  PlaceholderByNumberMap PlaceholderByNumber;
  std::set<uint64_t> skipSet;  // records already placed as ancestors
};

// Owns a FileTree; copying makes a deep copy with every pointer re-aimed at
// the copy.
class FileTreeBox {
 public:
  FileTreeBox();
  FileTreeBox(const FileTreeBox& other);
  FileTreeBox& operator=(const FileTreeBox& other);
  FileTreeBox(FileTreeBox&&) noexcept = default;
  FileTreeBox& operator=(FileTreeBox&&) noexcept = default;
  FileTree* operator->() { return tree_.get(); }
  const FileTree* operator->() const { return tree_.get(); }
  FileTree& operator*() { return *tree_; }
  const FileTree& operator*() const { return *tree_; }

 private:
  std::unique_ptr<FileTree> tree_;
};

// Visits top and every entry below it depth first, in list order, without
// recursion: a corrupt or hostile disk can chain folders thousands deep.
// visit(entry, depth) (top has depth 0) returns true to go into the entry's
// children.
template <typename Entry, typename Visit>
void VisitTree(Entry& top, Visit&& visit) {
  if (!visit(top, size_t{0})) return;
  using Iterator = decltype(top.children.begin());
  std::vector<std::pair<Iterator, Iterator>> open;  // the next child and the end of each open folder
  open.emplace_back(top.children.begin(), top.children.end());
  while (!open.empty()) {
    if (open.back().first == open.back().second) {
      open.pop_back();
      continue;
    }
    Entry& entry = *open.back().first++;
    if (visit(entry, open.size()) && !entry.children.empty())
      open.emplace_back(entry.children.begin(), entry.children.end());
  }
}

// The path of the entry being visited in a VisitTree walk, built up as the
// walk goes: each level keeps where its prefix ends, so no entry rebuilds its
// path from the top (which costs time and memory in the square of the depth).
class WalkPath {
 public:
  explicit WalkPath(std::string base = std::string()) : path_(std::move(base)) { ends_.push_back(path_.size()); }
  // The path of an entry at depth: its parent's path (the base for depth 0),
  // "/" and name.
  const std::string& Enter(size_t depth, const std::string& name) {
    Parent(depth);
    if (!path_.empty() && path_.back() != '/') path_ += '/';
    path_ += name;
    ends_.push_back(path_.size());
    return path_;
  }
  // The path of the entry entered last at depth - 1 (the base for depth 0).
  const std::string& Parent(size_t depth) {
    if (depth >= ends_.size()) depth = ends_.size() - 1;
    path_.resize(ends_[depth]);
    ends_.resize(depth + 1);
    return path_;
  }

 private:
  std::string path_;
  std::vector<size_t> ends_;  // ends_[d]: end of the path of the entry at depth d - 1
};

// Frees a list of entries and everything below them without recursion (the
// lists' own destructors would recurse once per level).
template <typename Entry>
void DestroyEntries(std::list<Entry>& entries) {
  std::list<Entry> pending;
  pending.splice(pending.end(), entries);
  while (!pending.empty()) {
    pending.splice(pending.end(), pending.front().children);
    pending.pop_front();
  }
}

// Empties the children of every special folder and every index; names and
// states of the special folders stay.
void ClearFileTree(FileTree& tree);

// Adds a child at the front (folders) or the back (files) of parent's
// children and returns it inside the list. The child is taken by value:
// callers done with their filled temporary move it in.
FatFileEntry* AddFatChild(FatFileEntry& parent, FatFileEntry child, bool atFront);
NtfsFileEntry* AddNtfsChild(NtfsFileEntry& parent, NtfsFileEntry child, bool atFront);

// "%d-%02d-%02d %02d:%02d:%02d" of a DOS date and time word; empty when the
// date is none (month or day 0, month past 12): such times are shown empty.
std::string FormatDosTime(uint16_t date, uint16_t time);
// The same pattern for a FILETIME shown at the fixed offset UTC+8; empty for 0.
std::string FormatFileTime(uint64_t fileTime);

// The same texts formatted in place, for listings that show three times per
// entry: no allocation and no printf per time.
struct TimeText {
  char text[36] = {};  // room for any 64-bit year (20 digits) and "-mm-dd hh:mm:ss"
  uint8_t size = 0;    // 0: no time
  std::string_view view() const { return {text, size}; }
};
TimeText DosTimeText(uint16_t date, uint16_t time);
TimeText FileTimeText(uint64_t fileTime);

// Unix seconds of a FAT date and time word as stored (the writer's local
// time, no zone), counted as if it were UTC; 0 for an empty or impossible date.
int64_t DosTimeToUnixSeconds(uint16_t date, uint16_t time);
// Unix seconds of a FILETIME (100 ns since 1601, UTC); 0 before 1970.
int64_t FileTimeToUnixSeconds(uint64_t fileTime);

}  // namespace quorvel

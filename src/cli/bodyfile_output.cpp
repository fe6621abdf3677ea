#include "cli/bodyfile_output.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quorvel::cli {

std::string BodyfileField(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '|' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '^';
  return out;
}

namespace {

struct Times {
  int64_t accessed = 0, modified = 0, changed = 0, created = 0;
};

Times TimesOf(const FatFileEntry& e) {
  // FAT has no change time; the access date has no time of day.
  return {DosTimeToUnixSeconds(e.accessDate, 0), DosTimeToUnixSeconds(e.writeDate, e.writeTime), 0,
          DosTimeToUnixSeconds(e.creationDate, e.creationTime)};
}

Times TimesOf(const NtfsFileEntry& e) {
  return {FileTimeToUnixSeconds(e.accessTime), FileTimeToUnixSeconds(e.modificationTime),
          FileTimeToUnixSeconds(e.mftChangeTime), FileTimeToUnixSeconds(e.creationTime)};
}

uint64_t NumberOf(const FatFileEntry& e) { return e.firstCluster; }
uint64_t NumberOf(const NtfsFileEntry& e) { return e.recordNumber; }

class BodyWriter {
 public:
  explicit BodyWriter(FILE* out) : out_(out) {}
  ~BodyWriter() { Flush(); }

  void Add(const std::string& path, uint8_t state, uint64_t number, uint64_t size, const Times& t) {
    text_ += "0|";
    text_ += BodyfileField(path);
    if (IsDeletedState(state)) text_ += " (deleted)";
    text_ += '|' + std::to_string(number) + '|';
    text_ += IsFolderState(state) ? "d/drwxrwxrwx" : "r/rrwxrwxrwx";
    text_ += "|0|0|" + std::to_string(size) + '|' + std::to_string(t.accessed) + '|' + std::to_string(t.modified) +
             '|' + std::to_string(t.changed) + '|' + std::to_string(t.created) + '\n';
    if (text_.size() > (1u << 20)) Flush();
  }

 private:
  void Flush() {
    std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

  FILE* out_;
  std::string text_;
};

bool Shown(uint8_t state) { return state >= kDeletedFolder && state <= kFile; }

// Depth first in list order, without recursion: a corrupt volume can nest
// folders deeper than the stack would take.
template <typename Entry>
void WalkBelow(BodyWriter& writer, const Entry& folder, const std::string& folderPath) {
  std::vector<std::pair<const Entry*, std::string>> pending;
  auto pushChildren = [&pending](const Entry& parent, const std::string& parentPath) {
    const size_t first = pending.size();
    for (const Entry& child : parent.children)
      if (Shown(child.state())) pending.emplace_back(&child, parentPath + "/" + child.name);
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
  };
  pushChildren(folder, folderPath);
  while (!pending.empty()) {
    auto [entry, path] = std::move(pending.back());
    pending.pop_back();
    writer.Add(path, entry->state(), NumberOf(*entry), entry->size, TimesOf(*entry));
    pushChildren(*entry, path);
  }
}

// The root's entries hang from "/"; another special folder is a folder of
// its own below it.
template <typename Entry>
void WalkSpecial(BodyWriter& writer, const Entry& special, bool isRoot) {
  if (!Shown(special.state())) return;
  if (isRoot) return WalkBelow(writer, special, std::string());
  const std::string path = "/" + special.name;
  writer.Add(path, special.state(), NumberOf(special), 0, Times{});
  WalkBelow(writer, special, path);
}

}  // namespace

void PrintBodyfile(const DiskRecord& disk, const PartitionRecord& partition, FILE* out) {
  BodyWriter writer(out);
  const FileTree& tree = *partition.tree;
  if (IsNtfsKind(partition.fsKind)) {
    WalkSpecial(writer, tree.ntfsRoot, true);
    WalkSpecial(writer, tree.ntfsLost, false);
    if (!tree.ntfsExtension.children.empty()) WalkSpecial(writer, tree.ntfsExtension, false);
  } else {
    WalkSpecial(writer, tree.fatRoot, true);
    WalkSpecial(writer, tree.fatLost, false);
  }
  auto it = disk.carvedFiles.lower_bound(partition.startSector);
  const uint64_t end = partition.startSector + partition.sectorCount;
  if (it == disk.carvedFiles.end() || it->first >= end) return;
  const std::string folder =
      "/" + (disk.extraFoundFiles.name.empty() ? "Extra Found Files" : disk.extraFoundFiles.name);
  writer.Add(folder, kFolder, 0, 0, Times{});
  // Carved files keep no times; they are found, not deleted entries.
  for (; it != disk.carvedFiles.end() && it->first < end; ++it)
    writer.Add(folder + "/" + it->second.name, kFile, it->first, it->second.size, Times{});
}

}  // namespace quorvel::cli

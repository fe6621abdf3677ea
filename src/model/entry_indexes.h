#pragma once
// The indexes a partition's tree keeps beside its entries: FAT entries by
// first cluster, NTFS entries by record number. Both are filled for every
// listed entry, so adding must cost next to nothing: no node per entry.
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace quorvel {

struct FatFileEntry;
struct NtfsFileEntry;

// First cluster → entries, in the order they were added (several entries can
// share a cluster: empty files all have 0). Read only to find the entry of a
// list row, so a lookup walks the whole index rather than every add paying
// for a search tree.
class ClusterIndex {
 public:
  using Item = std::pair<uint32_t, FatFileEntry*>;
  void emplace(uint32_t cluster, FatFileEntry* entry) { items_.emplace_back(cluster, entry); }
  size_t count(uint32_t cluster) const;
  size_t size() const { return items_.size(); }
  void clear() { std::vector<Item>().swap(items_); }
  std::vector<Item>::const_iterator begin() const { return items_.begin(); }
  std::vector<Item>::const_iterator end() const { return items_.end(); }

 private:
  std::vector<Item> items_;
};

// Record number → the one entry placed for it (the first one added wins).
// Record numbers run densely from 0 up the MFT, so they index a vector; a
// number far past the others (a damaged or hostile record) goes into a map
// rather than growing the vector without bound.
class RecordIndex {
 public:
  NtfsFileEntry* Find(uint64_t number) const;
  // False, changing nothing, when the number already has an entry.
  bool emplace(uint64_t number, NtfsFileEntry* entry);
  size_t size() const { return count_; }
  void clear();
  // visit(number, entry) for every entry, in no particular order.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    for (size_t n = 0; n < dense_.size(); ++n)
      if (dense_[n]) visit(uint64_t{n}, dense_[n]);
    for (const auto& [number, entry] : sparse_) visit(number, entry);
  }

 private:
  std::vector<NtfsFileEntry*> dense_;
  std::map<uint64_t, NtfsFileEntry*> sparse_;
  size_t count_ = 0;
};

}  // namespace quorvel

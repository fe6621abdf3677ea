#include "model/entry_indexes.h"

#include <algorithm>

namespace quorvel {

namespace {

// The vector grows to hold a number only while it stays at most about twice
// as long as the entries it holds: a record number of 2^40 takes a map node,
// not terabytes.
constexpr size_t kDenseSlack = 65536;

}  // namespace

size_t ClusterIndex::count(uint32_t cluster) const {
  return static_cast<size_t>(
      std::count_if(items_.begin(), items_.end(), [cluster](const Item& item) { return item.first == cluster; }));
}

NtfsFileEntry* RecordIndex::Find(uint64_t number) const {
  if (number < dense_.size() && dense_[number]) return dense_[number];
  if (sparse_.empty()) return nullptr;
  auto it = sparse_.find(number);
  return it == sparse_.end() ? nullptr : it->second;
}

bool RecordIndex::emplace(uint64_t number, NtfsFileEntry* entry) {
  if (Find(number)) return false;
  const size_t limit = 2 * (count_ + kDenseSlack);
  if (number < dense_.size()) {
    dense_[number] = entry;
  } else if (number < limit) {
    dense_.resize(std::max<size_t>(static_cast<size_t>(number) + 1, std::min(2 * dense_.size(), limit)));
    dense_[number] = entry;
  } else {
    sparse_.emplace(number, entry);
  }
  ++count_;
  return true;
}

void RecordIndex::clear() {
  std::vector<NtfsFileEntry*>().swap(dense_);
  sparse_.clear();
  count_ = 0;
}

}  // namespace quorvel

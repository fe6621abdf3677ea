#include "scan/found_partition_counter.h"

#include "scan/lost_partitions.h"

namespace quorvel {

FoundPartitionCounter::FoundPartitionCounter(const DiskRecord& disk, ProgressSink* inner,
                                             std::function<void(const std::string&)> showCount)
    : disk_(disk), inner_(inner), showCount_(std::move(showCount)) {}

void FoundPartitionCounter::Range(uint64_t upper, uint64_t step) {
  if (inner_) inner_->Range(upper, step);
}

void FoundPartitionCounter::Step() {
  if (inner_) inner_->Step();
  Count();
}

void FoundPartitionCounter::Pos(uint64_t position) {
  if (inner_) inner_->Pos(position);
  Count();
}

void FoundPartitionCounter::BytesPerUnit(uint64_t bytes) {
  if (inner_) inner_->BytesPerUnit(bytes);
}

void FoundPartitionCounter::Text(const std::string& text) {
  if (inner_) inner_->Text(text);
}

void FoundPartitionCounter::Close() {
  if (inner_) inner_->Close();
}

void FoundPartitionCounter::Count() {
  const int count = CountFoundPartitions(disk_);
  if (count == shown_) return;
  shown_ = count;
  if (showCount_) showCount_(FoundPartitionCountText(count));
}

}  // namespace quorvel

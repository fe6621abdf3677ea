#pragma once
// The partition count a lost-partition scan shows while it runs. It sits
// between the scan and the sink that shows its progress: at every step it
// counts the disk's found partitions on the scan's own thread (which owns the
// disk while it runs) and hands the count text on when the count changed.
#include <functional>
#include <string>

#include "core/progress_sink.h"
#include "model/disk_records.h"

namespace quorvel {

class FoundPartitionCounter : public ProgressSink {
 public:
  // showCount receives FoundPartitionCountText at the first step and at every
  // step after which the count differs; inner (may be null) gets every report.
  FoundPartitionCounter(const DiskRecord& disk, ProgressSink* inner, std::function<void(const std::string&)> showCount);

  void Range(uint64_t upper, uint64_t step) override;
  void Step() override;
  void Pos(uint64_t position) override;
  void BytesPerUnit(uint64_t bytes) override;
  void Text(const std::string& text) override;
  void Close() override;

 private:
  void Count();

  const DiskRecord& disk_;
  ProgressSink* inner_;
  std::function<void(const std::string&)> showCount_;
  int shown_ = -1;  // none shown yet
};

}  // namespace quorvel

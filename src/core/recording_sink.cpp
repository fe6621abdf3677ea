#include "core/recording_sink.h"

#include <algorithm>

namespace quorvel {

void RecordingSink::Range(uint64_t upper, uint64_t step) {
  std::lock_guard<std::mutex> lock(mutex_);
  upper_ = upper;
  step_ = step;
  position_ = 0;
  ++ranges_;
}
void RecordingSink::Step() {
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = std::min(upper_, position_ + step_);
  ++steps_;
}
void RecordingSink::Pos(uint64_t position) {
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = std::min(upper_, position);
}
void RecordingSink::Text(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Keep memory bounded on long sweeps: only distinct consecutive texts.
  if (texts_.empty() || texts_.back() != text) texts_.push_back(text);
  if (texts_.size() > 100000) texts_.erase(texts_.begin(), texts_.begin() + 50000);
}
void RecordingSink::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
}
uint64_t RecordingSink::upper() const {
  std::lock_guard<std::mutex> l(mutex_);
  return upper_;
}
uint64_t RecordingSink::position() const {
  std::lock_guard<std::mutex> l(mutex_);
  return position_;
}
size_t RecordingSink::steps() const {
  std::lock_guard<std::mutex> l(mutex_);
  return steps_;
}
size_t RecordingSink::ranges() const {
  std::lock_guard<std::mutex> l(mutex_);
  return ranges_;
}
bool RecordingSink::closed() const {
  std::lock_guard<std::mutex> l(mutex_);
  return closed_;
}
std::vector<std::string> RecordingSink::texts() const {
  std::lock_guard<std::mutex> l(mutex_);
  return texts_;
}
std::string RecordingSink::lastText() const {
  std::lock_guard<std::mutex> l(mutex_);
  return texts_.empty() ? std::string() : texts_.back();
}

}  // namespace quorvel

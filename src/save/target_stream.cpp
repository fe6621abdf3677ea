#include "save/target_stream.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <vector>

namespace quorvel {

namespace {
thread_local TargetStream* g_current = nullptr;
}  // namespace

bool TargetStream::Send(const void* data, size_t length) {
  if (error_) return false;
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = ::write(fd_, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
    sent_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool TargetStream::SendZeros(uint64_t count) {
  static const std::vector<char> kZeros(1 << 16, 0);
  while (count > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(count, kZeros.size()));
    if (!Send(kZeros.data(), piece)) return false;
    count -= piece;
  }
  return true;
}

bool TargetStream::WriteAt(uint64_t position, const void* data, size_t length) {
  if (position < sent_) {
    error_ = ESPIPE;  // a stream cannot go back
    return false;
  }
  return SendZeros(position - sent_) && Send(data, length);
}

void TargetStream::ExtendTo(uint64_t length) { length_ = std::max(length_, length); }

bool TargetStream::Finish() { return length_ <= sent_ || SendZeros(length_ - sent_); }

TargetStreamScope::TargetStreamScope(TargetStream& stream) : previous_(g_current) { g_current = &stream; }

TargetStreamScope::~TargetStreamScope() { g_current = previous_; }

TargetStream* CurrentTargetStream() { return g_current; }

}  // namespace quorvel

#include "io/sector_buffer.h"

namespace quorvel {

std::span<uint8_t> ThreadReadBuffer(size_t size) {
  thread_local SectorBuffer buffer(0);
  if (buffer.size() < size) {
    buffer = SectorBuffer(0);  // the old one goes first: both need not fit at once
    buffer = SectorBuffer(size);
    if (buffer.size() < size) return {};
  }
  return buffer.span().first(size);
}

}  // namespace quorvel

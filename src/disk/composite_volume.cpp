// Placeholder until the composite-volume readers land.
#include <cstring>
#include "disk/sector_device.h"
namespace quorvel {
bool ReadCompositeVolume(uint64_t, size_t& bytesRead, void* buffer, size_t length, const PartitionRecord&) {
  bytesRead = 0;
  std::memset(buffer, 0, length);
  return false;
}
}  // namespace quorvel

#include "io/sector_device.h"

namespace quorvel {

std::unique_ptr<ByteSource> OpenDevice(const std::string& path, std::string* error) {
  return FileSource::Open(path, error);
}

bool ReadPartitionData(const ByteSource& source, uint64_t position, std::span<uint8_t> buffer, size_t& bytesRead) {
  bytesRead = source.ReadAt(position, buffer);
  return bytesRead == buffer.size();
}

}  // namespace quorvel

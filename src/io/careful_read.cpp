#include "io/careful_read.h"

#include <algorithm>

namespace quorvel {

namespace {

// Adds the stretch [from, to) of the buffer to what arrived of its counted part.
void Count(CarefulReadResult& result, uint64_t from, uint64_t to, uint64_t counted) {
  to = std::min(to, counted);
  if (to <= from) return;
  result.read += to - from;
  result.end = to;
}

}  // namespace

CarefulReadResult ReadCarefully(const ByteSource& source, uint64_t offset, std::span<uint8_t> buffer, size_t counted,
                                uint64_t limit, uint64_t sectorBytes, std::vector<ReadGap>* gaps) {
  CarefulReadResult result;
  counted = std::min(counted, buffer.size());
  if (sectorBytes == 0) sectorBytes = kDefaultSectorSize;
  // A gap of the counted bytes, merged with the one before it when they touch.
  auto gap = [&](uint64_t from, uint64_t to) {
    to = std::min<uint64_t>(to, counted);
    if (!gaps || to <= from) return;
    if (!gaps->empty() && gaps->back().offset + gaps->back().length == from)
      gaps->back().length += to - from;
    else
      gaps->push_back({from, to - from});
  };
  const uint64_t inside = offset >= limit ? 0 : std::min<uint64_t>(buffer.size(), limit - offset);
  ZeroRest(buffer, static_cast<size_t>(inside));
  const size_t got = inside ? source.ReadAt(offset, buffer.first(static_cast<size_t>(inside))) : 0;
  if (got >= inside) {
    Count(result, 0, inside, counted);
  } else {
    // Short: keep what came, then go on sector by sector from the piece that
    // failed (a failing disk answers for each sector on its own).
    uint64_t at = got / sectorBytes * sectorBytes;
    Count(result, 0, at, counted);
    while (at < inside && at < counted) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(sectorBytes, inside - at));
      const size_t piece = source.ReadAt(offset + at, buffer.subspan(static_cast<size_t>(at), length));
      Count(result, at, at + piece, counted);
      gap(at + piece, at + length);
      at += length;
    }
  }
  gap(inside, counted);  // past the limit
  return result;
}

uint64_t PartitionReadLimit(const ByteSource& source, uint64_t startSector, uint64_t sectorCount,
                            uint64_t sectorBytes) {
  uint64_t limit = source.Size() ? source.Size() : UINT64_MAX;
  if (sectorCount != 0 && sectorBytes != 0 && startSector <= UINT64_MAX / sectorBytes) {
    const uint64_t start = startSector * sectorBytes;
    const uint64_t length =
        sectorCount > (UINT64_MAX - start) / sectorBytes ? UINT64_MAX - start : sectorCount * sectorBytes;
    limit = std::min(limit, start + length);
  }
  return limit;
}

}  // namespace quorvel

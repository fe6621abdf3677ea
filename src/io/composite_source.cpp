#include "io/composite_source.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

CompositeSource::CompositeSource(CompositeLayout layout, std::vector<CompositeMember> members, uint32_t stripeSectors,
                                 uint32_t bytesPerSector)
    : layout_(layout),
      members_(std::move(members)),
      unitBytes_(uint64_t{stripeSectors} * bytesPerSector),
      bytesPerSector_(bytesPerSector ? bytesPerSector : kDefaultSectorSize) {
  uint64_t smallest = UINT64_MAX, total = 0;
  for (const CompositeMember& m : members_) {
    smallest = std::min(smallest, m.sectorCount);
    total += m.sectorCount;
  }
  uint64_t n = members_.size();
  if (n == 0) return;
  switch (layout_) {
    case CompositeLayout::kSpanned:
      size_ = total * bytesPerSector_;
      break;
    case CompositeLayout::kStriped:
      size_ = unitBytes_ ? n * smallest * bytesPerSector_ : 0;
      break;
    case CompositeLayout::kParity:
      size_ = unitBytes_ && n >= 2 ? (n - 1) * smallest * bytesPerSector_ : 0;
      break;
  }
}

bool CompositeSource::ReadMember(size_t index, uint64_t memberOffset, std::span<uint8_t> piece) const {
  const CompositeMember& m = members_[index];
  uint64_t extent = m.sectorCount * bytesPerSector_;
  if (!m.source || memberOffset >= extent || piece.size() > extent - memberOffset) return false;
  return m.source->ReadFull(m.startSector * bytesPerSector_ + memberOffset, piece);
}

size_t CompositeSource::ReadAt(uint64_t offset, std::span<uint8_t> buffer) const {
  switch (layout_) {
    case CompositeLayout::kStriped:
      return ReadStriped(offset, buffer);
    case CompositeLayout::kSpanned:
      return ReadSpanned(offset, buffer);
    case CompositeLayout::kParity:
      return ReadParity(offset, buffer);
  }
  return ZeroRest(buffer, 0);
}

namespace {

// Reads buffer unit by unit: the first unit from firstOffset bytes into it,
// the rest whole. readUnit(offsetInUnit, piece) reads from the current unit;
// nextUnit() moves to the following one. Returns the bytes read before the
// first piece that failed.
template <typename ReadUnit, typename NextUnit>
size_t ReadByUnits(uint64_t firstOffset, uint64_t unitBytes, std::span<uint8_t> buffer, ReadUnit readUnit,
                   NextUnit nextUnit) {
  size_t done = 0;
  uint64_t offsetInUnit = firstOffset;
  while (done < buffer.size()) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(buffer.size() - done, unitBytes - offsetInUnit));
    if (!readUnit(offsetInUnit, buffer.subspan(done, piece))) break;
    done += piece;
    offsetInUnit = 0;
    nextUnit();
  }
  return ZeroRest(buffer, done);
}

}  // namespace

size_t CompositeSource::ReadStriped(uint64_t offset, std::span<uint8_t> buffer) const {
  const uint64_t n = members_.size();
  // An incomplete volume-manager record can leave either at zero.
  if (n == 0 || unitBytes_ == 0) return ZeroRest(buffer, 0);
  uint64_t unit = offset / unitBytes_;
  size_t column = static_cast<size_t>(unit % n);
  uint64_t rowOffset = (unit / n) * unitBytes_;
  auto readUnit = [&](uint64_t offsetInUnit, std::span<uint8_t> piece) {
    return ReadMember(column, rowOffset + offsetInUnit, piece);
  };
  auto nextUnit = [&] {
    if (++column == n) {
      column = 0;
      rowOffset += unitBytes_;
    }
  };
  return ReadByUnits(offset % unitBytes_, unitBytes_, buffer, readUnit, nextUnit);
}

size_t CompositeSource::ReadSpanned(uint64_t offset, std::span<uint8_t> buffer) const {
  size_t done = 0;
  uint64_t memberBegin = 0;  // volume offset at which the current member starts
  for (size_t i = 0; i < members_.size() && done < buffer.size(); ++i) {
    uint64_t memberLength = members_[i].sectorCount * bytesPerSector_;
    uint64_t position = offset + done;
    if (position >= memberBegin + memberLength) {
      memberBegin += memberLength;
      continue;
    }
    uint64_t offsetIn = position - memberBegin;
    size_t piece = static_cast<size_t>(std::min<uint64_t>(buffer.size() - done, memberLength - offsetIn));
    if (!ReadMember(i, offsetIn, buffer.subspan(done, piece))) break;
    done += piece;
    memberBegin += memberLength;
  }
  return ZeroRest(buffer, done);
}

bool CompositeSource::RebuildMember(size_t missing, uint64_t memberOffset, std::span<uint8_t> out) const {
  std::memset(out.data(), 0, out.size());
  if (members_.size() < 2) return false;
  std::vector<uint8_t> scratch(out.size());
  for (size_t i = 0; i < members_.size(); ++i) {
    if (i == missing) continue;
    // A second missing member cannot be read: the data is gone.
    if (!ReadMember(i, memberOffset, scratch)) {
      std::memset(out.data(), 0, out.size());
      return false;
    }
    for (size_t k = 0; k < out.size(); ++k) out[k] ^= scratch[k];
  }
  return true;
}

size_t CompositeSource::ReadParity(uint64_t offset, std::span<uint8_t> buffer) const {
  const uint64_t n = members_.size();
  // One data unit per row needs at least two members (data + parity).
  if (n < 2 || unitBytes_ == 0) return ZeroRest(buffer, 0);
  uint64_t unit = offset / unitBytes_;
  uint64_t row = unit / (n - 1);
  uint64_t k = unit % (n * (n - 1));
  uint64_t turn = k / (n - 1);
  uint64_t column = k % (n - 1);
  size_t parity = static_cast<size_t>(n - 1 - turn);
  size_t current = static_cast<size_t>((parity + 1 + column) % n);
  uint64_t memberOffset = row * unitBytes_;
  auto readUnit = [&](uint64_t offsetInUnit, std::span<uint8_t> piece) {
    if (!members_[current].source) return RebuildMember(current, memberOffset + offsetInUnit, piece);
    return ReadMember(current, memberOffset + offsetInUnit, piece);
  };
  auto nextUnit = [&] {
    current = static_cast<size_t>((current + 1) % n);
    if (current == parity) {
      // Row complete: the parity unit moves one member to the left.
      memberOffset += unitBytes_;
      parity = parity == 0 ? static_cast<size_t>(n - 1) : parity - 1;
      current = static_cast<size_t>((parity + 1) % n);
    }
  };
  return ReadByUnits(offset % unitBytes_, unitBytes_, buffer, readUnit, nextUnit);
}

}  // namespace quorvel

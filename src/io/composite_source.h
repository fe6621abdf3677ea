#pragma once
// Volumes that a volume manager spreads over several disks, read as one
// source: striped, spanned (also a simple volume of one extent), and striped
// with rotating parity (RAID-5, readable with one member missing). Member
// sources stay open for the life of the volume.
#include <cstdint>
#include <vector>

#include "io/byte_source.h"

namespace quorvel {

// The layouts; the numbers are the VolumeKind codes of partition records.
enum class CompositeLayout : uint8_t {
  kStriped = 1,
  kSpanned = 2,
  kParity = 3,
};

struct CompositeMember {
  SharedSource source;       // null when the member's disk is not present
  uint64_t startSector = 0;  // the member's extent on its disk
  uint64_t sectorCount = 0;
};

class CompositeSource final : public ByteSource {
 public:
  // members in ordinal order; stripeSectors is the stripe unit (striped and
  // parity layouts).
  CompositeSource(CompositeLayout layout, std::vector<CompositeMember> members, uint32_t stripeSectors,
                  uint32_t bytesPerSector = kDefaultSectorSize);

  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override;
  uint64_t Size() const override { return size_; }
  uint32_t SectorSize() const override { return bytesPerSector_; }

  // The bytes [memberOffset, memberOffset + out.size()) of member `missing`'s
  // extent, rebuilt as the XOR of the same bytes of every other member.
  // False (out zeroed) when another member cannot be read.
  bool RebuildMember(size_t missing, uint64_t memberOffset, std::span<uint8_t> out) const;

 private:
  size_t ReadStriped(uint64_t offset, std::span<uint8_t> buffer) const;
  size_t ReadSpanned(uint64_t offset, std::span<uint8_t> buffer) const;
  size_t ReadParity(uint64_t offset, std::span<uint8_t> buffer) const;
  // Reads piece bytes of member index at memberOffset into its extent; false
  // when the member is missing, the piece starts past its extent, or the
  // read comes back short.
  bool ReadMember(size_t index, uint64_t memberOffset, std::span<uint8_t> piece) const;

  CompositeLayout layout_;
  std::vector<CompositeMember> members_;
  uint64_t unitBytes_;
  uint32_t bytesPerSector_;
  uint64_t size_ = 0;
};

}  // namespace quorvel

#pragma once
// What the volume managers record about a disk: the values of a dynamic
// disk's private header and database header, and an LVM2 physical volume with
// its volume group's logical volumes. Kept in the DiskRecord and written to
// scan-result files.
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

// A dynamic disk's private header (all positions in sectors).
struct LdmDiskValues {
  uint16_t versionMajor = 0;
  uint16_t versionMinor = 0;
  std::array<uint8_t, 16> diskGuid{};
  std::array<uint8_t, 16> groupGuid{};
  std::string groupName;
  uint64_t logicalDiskStart = 0;  // the data area: where the volumes' extents are counted from
  uint64_t logicalDiskSize = 0;
  uint64_t configStart = 0;  // the database area
  uint64_t configSize = 0;   // 0: not a dynamic disk
};

// The dynamic-disk database header ("VMDB").
struct LdmDatabaseValues {
  uint32_t lastSequence = 0;
  uint32_t recordSize = 0;         // bytes of one VBLK
  uint32_t firstRecordOffset = 0;  // bytes from the header to the first VBLK
  uint16_t versionMajor = 0;
  uint16_t versionMinor = 0;
  std::array<uint32_t, 4> committed{};  // committed object counts as stored
};

struct LvmSegment {
  uint32_t startExtent = 0;  // in the logical volume
  uint32_t extentCount = 0;
  std::string pvName;  // "pv0" style, from the first stripe
  uint32_t stripeCount = 0;
  std::string pvId;  // the id of the physical volume of that name
  uint64_t pvStartExtent = 0;
};

struct LvmLogicalVolume {
  std::string name;
  uint8_t flag = 0;
  std::string text1, text2, text3;  // kept empty
  uint64_t size = 0;                // sectors: extent_count x extent_size over the segments
  uint32_t segmentCount = 0;
  std::string kindText = "EXT";
  std::vector<LvmSegment> segments;
};

// An LVM2 physical volume and its volume group.
struct LvmValues {
  uint64_t metadataOffset = 0;  // bytes from the disk's start (label)
  uint64_t metadataSize = 0;
  std::string groupName;
  uint32_t extentSize = 0;  // sectors
  uint64_t devSize = 0;     // sectors, of the physical volume whose id matched
  uint64_t peStart = 0;     // sectors
  uint32_t peCount = 0;
  std::vector<std::pair<std::string, std::string>> physicalVolumes;  // (name, id)
  std::vector<LvmLogicalVolume> logicalVolumes;
};

}  // namespace quorvel

#pragma once
// Crafted NTFS records and tiny volumes for the cases real tools do not make:
// lying lengths, loops between parents, reused record slots, odd run lists.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/disk_records.h"

namespace quorvel::test {

using Bytes = std::vector<uint8_t>;

inline uint64_t Ref(uint64_t number, uint16_t sequence) { return number | (uint64_t{sequence} << 48); }

struct AttributeListItem {
  uint32_t type = 0;
  uint64_t lowestVcn = 0;
  uint64_t reference = 0;
};

struct IndexItem {
  uint64_t reference = 0;
  uint64_t parent = 0;
  std::string name;
  uint8_t nameSpace = 1;
};

// One file record (1024 bytes unless told), attribute by attribute.
class RecordBuilder {
 public:
  RecordBuilder(uint32_t number, uint16_t flags, uint16_t sequence = 1, bool olderLayout = false,
                size_t recordSize = 1024);
  RecordBuilder& BaseReference(uint64_t reference);
  RecordBuilder& StandardInformation(uint64_t created, uint64_t modified, uint64_t accessed);
  RecordBuilder& FileName(uint64_t parentReference, const std::string& name, uint8_t nameSpace = 1,
                          uint64_t realSize = 0, uint64_t allocatedSize = 0);
  RecordBuilder& ResidentData(const Bytes& value, const std::string& name = "");
  RecordBuilder& NonResidentData(const Bytes& runList, uint64_t realSize, uint64_t lowestVcn = 0, uint16_t flags = 0,
                                 uint8_t unitShift = 0, const std::string& name = "");
  RecordBuilder& AttributeList(const std::vector<AttributeListItem>& items);
  RecordBuilder& IndexRoot(const std::vector<IndexItem>& items, bool largeIndex = false);
  // An attribute given byte for byte (header included), for lying headers.
  RecordBuilder& RawAttribute(const Bytes& attribute);
  // End marker and update sequence; the record as it lies on disk.
  Bytes Finish(bool endMarker = true) const;
  // The same, already fixed up (as the decoder sees it).
  Bytes FinishFixedUp() const;

 private:
  RecordBuilder& Resident(uint32_t type, const Bytes& value, const std::string& name);
  Bytes bytes_;
  size_t next_;
  uint16_t attributeId_ = 0;
};

// Sector and file-record sizes of a crafted volume.
struct NtfsGeometry {
  uint32_t sectorSize = 512;
  uint32_t recordSize = 1024;
};

// A small NTFS volume: boot sector and its backup, 4 KiB clusters, the MFT
// at cluster 4 with `mftRecords` slots, $MFT (0) and the root (5) in place.
class VolumeBuilder {
 public:
  explicit VolumeBuilder(uint32_t mftRecords = 256, uint64_t sectors = 8192, NtfsGeometry geometry = {});
  void Put(uint32_t number, const Bytes& record);
  void PutAtSector(uint64_t sector, const Bytes& record);
  void ZeroBootSector();
  uint64_t MftSector(uint32_t number) const {
    return (4ull * 4096 + uint64_t{number} * geometry_.recordSize) / geometry_.sectorSize;
  }
  const Bytes& bytes() const { return image_; }
  // Writes the image; returns its path.
  std::string Write(const std::string& path) const;

 private:
  NtfsGeometry geometry_;
  Bytes image_;
};

// Every entry under the NTFS special folders by its path ("根目录/a/b").
// Duplicate paths get " #2", " #3" appended.
std::map<std::string, const NtfsFileEntry*> TreePaths(const FileTree& tree);

// A DiskRecord for a whole-volume image with one NTFS partition covering it.
DiskRecord WholeVolumeDisk(const std::string& imagePath);

}  // namespace quorvel::test

#pragma once
// Read-only sector access to disks, image files and composite volumes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/disk_records.h"

namespace quorvel {

constexpr uint32_t kSectorSize = 512;

// A device or image opened read-only; carries its own position. Move-only,
// closed by its destructor.
class SectorDevice {
 public:
  SectorDevice() = default;
  ~SectorDevice();
  SectorDevice(SectorDevice&& other) noexcept;
  SectorDevice& operator=(SectorDevice&& other) noexcept;
  SectorDevice(const SectorDevice&) = delete;
  SectorDevice& operator=(const SectorDevice&) = delete;

  bool Open(const std::string& path);  // always read-only
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  bool Seek(uint64_t byteOffset);
  uint64_t Position() const { return position_; }
  // Reads at the current position and advances. The buffer is zero-filled
  // first, so whatever could not be read reads as zeros.
  bool Read(void* buffer, size_t length, size_t* bytesRead = nullptr);
  // Seek + Read.
  bool ReadAt(uint64_t byteOffset, void* buffer, size_t length, size_t* bytesRead = nullptr);
  // Size of the device or file in bytes (0 when unknown).
  uint64_t Size() const;

 private:
  int fd_ = -1;
  uint64_t position_ = 0;
  std::string path_;
};

// Opens path read-only; false when it cannot be opened.
bool OpenDevice(const std::string& path, SectorDevice& device);

// The one read entry point of the readers. Plain partitions (or none given):
// reads on the caller's device at its current position. Composite volumes:
// position is a byte offset from the volume's start; the device is not used.
bool ReadPartitionData(const PartitionRecord* partition, size_t& bytesRead, SectorDevice* device, void* buffer,
                       size_t length, uint64_t position);

bool ReadCompositeVolume(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                         const PartitionRecord& partition);
bool ReadVolumeStriped(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                       const PartitionRecord& partition);
bool ReadVolumeSpanned(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                       const PartitionRecord& partition);
bool ReadVolumeParity(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                      const PartitionRecord& partition);
bool RebuildFromParity(void* output, uint64_t memberOffset, size_t length, const PartitionRecord& partition,
                       uint8_t missingOrdinal);

// Convenience for readers: reads `length` bytes at a sector relative to the
// partition's start, whether it is plain (absolute seek on device) or composite.
bool ReadVolumeBytes(const PartitionRecord& partition, SectorDevice* device, uint64_t relativeSector, void* buffer,
                     size_t length, size_t* bytesRead = nullptr);

// Opens what a reader of this partition needs: the disk's device for a plain
// partition (its own devicePath when set, else diskPath); nothing for a
// composite volume (returns true with device left closed).
bool OpenPartitionDevice(const PartitionRecord& partition, const std::string& diskPath, SectorDevice& device);

// Reads length bytes at an absolute sector of the partition's disk (a
// volume-relative sector for composite volumes). The buffer is zero-filled
// first; returns the bytes actually read.
size_t ReadSourceSectors(const PartitionRecord& partition, SectorDevice* device, uint64_t sector, void* buffer,
                         size_t length);

}  // namespace quorvel

#include "io/sector_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace quorvel {

SectorDevice::~SectorDevice() { Close(); }

SectorDevice::SectorDevice(SectorDevice&& other) noexcept
    : fd_(other.fd_), position_(other.position_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

SectorDevice& SectorDevice::operator=(SectorDevice&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    position_ = other.position_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

bool SectorDevice::Open(const std::string& path) {
  Close();
  // Sources are never opened for writing, whatever the caller is.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  position_ = 0;
  path_ = path;
  return fd_ >= 0;
}

void SectorDevice::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool SectorDevice::Seek(uint64_t byteOffset) {
  position_ = byteOffset;
  return fd_ >= 0;
}

bool SectorDevice::Read(void* buffer, size_t length, size_t* bytesRead) {
  size_t done = 0;
  bool ok = fd_ >= 0;
  while (ok && done < length) {
    ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, length - done, static_cast<off_t>(position_ + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
    } else if (got == 0) {
      break;  // end of device: the rest stays zero
    } else {
      done += static_cast<size_t>(got);
    }
  }
  // Whatever could not be read reads as zeros. Filling only that part (not
  // the whole buffer up front) keeps 10 MiB sweeps as fast as plain reading.
  if (done < length) std::memset(static_cast<char*>(buffer) + done, 0, length - done);
  position_ += done;
  if (bytesRead) *bytesRead = done;
  return ok;
}

bool SectorDevice::ReadAt(uint64_t byteOffset, void* buffer, size_t length, size_t* bytesRead) {
  Seek(byteOffset);
  return Read(buffer, length, bytesRead);
}

uint64_t SectorDevice::Size() const {
  if (fd_ < 0) return 0;
  struct stat st {};
  if (fstat(fd_, &st) != 0) return 0;
  if (S_ISBLK(st.st_mode)) {
    uint64_t size = 0;
    if (ioctl(fd_, BLKGETSIZE64, &size) == 0) return size;
    return 0;
  }
  return static_cast<uint64_t>(st.st_size);
}

bool OpenDevice(const std::string& path, SectorDevice& device) { return device.Open(path); }

bool ReadPartitionData(const PartitionRecord* partition, size_t& bytesRead, SectorDevice* device, void* buffer,
                       size_t length, uint64_t position) {
  bytesRead = 0;
  if (!partition || partition->volumeKind == kPlainVolume) {
    if (!device) {
      std::memset(buffer, 0, length);
      return false;
    }
    return device->Read(buffer, length, &bytesRead);
  }
  return ReadCompositeVolume(position, bytesRead, buffer, length, *partition);
}

bool ReadVolumeBytes(const PartitionRecord& partition, SectorDevice* device, uint64_t relativeSector, void* buffer,
                     size_t length, size_t* bytesRead) {
  size_t got = 0;
  bool ok;
  if (partition.volumeKind == kPlainVolume) {
    if (device) device->Seek((partition.startSector + relativeSector) * kSectorSize);
    ok = ReadPartitionData(&partition, got, device, buffer, length, 0);
  } else {
    ok = ReadPartitionData(&partition, got, device, buffer, length, relativeSector * partition.bytesPerSector);
  }
  if (bytesRead) *bytesRead = got;
  return ok;
}

bool OpenPartitionDevice(const PartitionRecord& partition, const std::string& diskPath, SectorDevice& device) {
  if (partition.volumeKind != kPlainVolume) return true;
  return device.Open(diskPath);
}

size_t ReadSourceSectors(const PartitionRecord& partition, SectorDevice* device, uint64_t sector, void* buffer,
                         size_t length) {
  uint64_t bytesPerSector = partition.bytesPerSector ? partition.bytesPerSector : kSectorSize;
  uint64_t position = sector * bytesPerSector;
  // Plain partitions read at the device's position, composite volumes by
  // position; both are given the same byte offset.
  if (device) device->Seek(position);
  size_t got = 0;
  ReadPartitionData(&partition, got, device, buffer, length, position);
  return got;
}

}  // namespace quorvel

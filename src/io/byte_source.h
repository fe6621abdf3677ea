#pragma once
// The one read interface of every source: a disk, an image file, a partition
// of either, or a volume spread over several disks. Reads are stateless (no
// position to seek first) and safe from several threads at once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quorvel {

constexpr uint32_t kDefaultSectorSize = 512;

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads buffer.size() bytes at offset. Returns how many bytes were read
  // from the start of buffer; the rest of buffer is zero-filled. A count
  // short of buffer.size() means the source ends there or a read failed.
  virtual size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const = 0;
  // Size in bytes (0 when unknown).
  virtual uint64_t Size() const = 0;
  // The sector size offsets are counted in by the layers above.
  virtual uint32_t SectorSize() const { return kDefaultSectorSize; }

  // Copies length bytes at offset straight into the file open as fd, at
  // fdOffset, inside the kernel (no trip through a buffer of ours). Returns
  // how many bytes arrived from the start; fewer than length when the source
  // ends, a read or write failed or the pair cannot be copied this way (0 for
  // sources that cannot). Callers take the rest the careful way, which tells
  // an unreadable source from a failing target.
  virtual size_t CopyTo(uint64_t /*offset*/, size_t /*length*/, int /*fd*/, uint64_t /*fdOffset*/) const { return 0; }

  // True when two readers may read it at once: an image file. A disk (a
  // failing one above all) and what is not known are read in one stream.
  virtual bool TakesTwoReaders() const { return false; }

  // True when all of buffer was read.
  bool ReadFull(uint64_t offset, std::span<uint8_t> buffer) const { return ReadAt(offset, buffer) == buffer.size(); }
};

using SharedSource = std::shared_ptr<const ByteSource>;

// A regular file or a block device, opened read-only.
class FileSource final : public ByteSource {
 public:
  // Opens path read-only. Refuses anything that is neither a regular file nor
  // a block device (a folder, a FIFO, a socket, a character device) without
  // blocking on it; error then says why. Null on failure.
  static std::unique_ptr<FileSource> Open(const std::string& path, std::string* error = nullptr);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override;
  size_t CopyTo(uint64_t offset, size_t length, int fd, uint64_t fdOffset) const override;
  uint64_t Size() const override { return size_; }
  // A block device's logical sector size; 512 for image files.
  uint32_t SectorSize() const override { return sectorSize_; }
  bool TakesTwoReaders() const override { return !device_; }
  const std::string& path() const { return path_; }

 private:
  FileSource(int fd, std::string path, uint64_t size, uint32_t sectorSize, bool device)
      : fd_(fd), path_(std::move(path)), size_(size), sectorSize_(sectorSize), device_(device) {}
  int fd_;
  std::string path_;
  uint64_t size_;
  uint32_t sectorSize_;
  bool device_;
};

// Bytes held in memory: crafted images in tests and fuzz targets.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes, uint32_t sectorSize = kDefaultSectorSize)
      : bytes_(std::move(bytes)), sectorSize_(sectorSize) {}
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override;
  uint64_t Size() const override { return bytes_.size(); }
  uint32_t SectorSize() const override { return sectorSize_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t sectorSize_;
};

// A window [start, start + length) of another source, read from offset 0:
// a partition of a disk. Nothing outside the window is read.
class SliceSource final : public ByteSource {
 public:
  SliceSource(SharedSource base, uint64_t start, uint64_t length, uint32_t sectorSize = 0)
      : base_(std::move(base)), start_(start), length_(length), sectorSize_(sectorSize) {}
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override;
  size_t CopyTo(uint64_t offset, size_t length, int fd, uint64_t fdOffset) const override;
  uint64_t Size() const override { return length_; }
  uint32_t SectorSize() const override { return sectorSize_ ? sectorSize_ : base_->SectorSize(); }
  bool TakesTwoReaders() const override { return base_->TakesTwoReaders(); }
  uint64_t start() const { return start_; }

 private:
  SharedSource base_;
  uint64_t start_;
  uint64_t length_;
  uint32_t sectorSize_;
};

// Zero-fills buffer from `done` on and returns done: the common ending of a
// short read.
size_t ZeroRest(std::span<uint8_t> buffer, size_t done);

// Reads buffer.size() bytes at sector x sectorSize; returns the bytes read,
// the rest zero-filled. A sector whose byte offset does not fit in 64 bits
// reads nothing.
inline size_t ReadSectors(const ByteSource& source, uint64_t sector, uint64_t sectorSize, std::span<uint8_t> buffer) {
  if (sectorSize == 0 || sector > UINT64_MAX / sectorSize) return ZeroRest(buffer, 0);
  return source.ReadAt(sector * sectorSize, buffer);
}

}  // namespace quorvel

#pragma once
// The imaging target: an image file or a disk, the only thing imaging ever
// opens for writing. Every write is checked, and the copy is made durable
// before it is called done.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quorvel {

class ImageWriter {
 public:
  virtual ~ImageWriter() = default;
  // Writes all of data at position; false when any of it could not be written.
  virtual bool WriteAt(uint64_t position, std::span<const uint8_t> data) = 0;
  // Pushes what was written to the medium; false when the target reports an
  // error (a write that only failed when the cache was flushed).
  virtual bool Flush() = 0;
  // Why the last write or flush failed.
  virtual std::string LastError() const = 0;
};

enum class TargetOpenMode {
  kNewFile,      // an image file, created or emptied first
  kResumeFile,   // an image file, created if missing, kept as it is otherwise
  kExistingDisk  // a disk, or an image file used as a disk: must exist, kept
};

class FileImageWriter final : public ImageWriter {
 public:
  // Opens path for writing. Files must be regular files; a disk must be a
  // block device or an existing regular file. Null (error set) otherwise.
  static std::unique_ptr<FileImageWriter> Open(const std::string& path, TargetOpenMode mode, std::string* error);
  ~FileImageWriter() override;
  FileImageWriter(const FileImageWriter&) = delete;
  FileImageWriter& operator=(const FileImageWriter&) = delete;

  bool WriteAt(uint64_t position, std::span<const uint8_t> data) override;
  bool Flush() override;
  std::string LastError() const override { return error_; }
  // The opened file, for the checks made after opening (same file as the source?).
  int fd() const { return fd_; }

 private:
  FileImageWriter(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  void StartWriteback(uint64_t position, uint64_t length);
  int fd_;
  std::string path_;
  std::string error_;
  // Written bytes whose writeback has not been started yet (one stretch).
  uint64_t dirtyStart_ = 0, dirtyEnd_ = 0;
};

// One block to the target at position. False when the target took less than
// all of it.
bool WriteBlock(ImageWriter& target, std::span<const uint8_t> data, uint64_t position);

}  // namespace quorvel

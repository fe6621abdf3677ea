#pragma once
// A sparse image file that a fuzz target rewrites for every input, for the
// paths that open disks by their path (volume-manager groups, logical
// volumes): it lives in memory-backed /dev/shm when there is one and is
// removed at exit.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

namespace quorvel::fuzz {

class ImageFile {
 public:
  ImageFile() {
    std::error_code ec;
    const std::filesystem::path base =
        ::access("/dev/shm", W_OK) == 0 ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path(ec);
    std::string pattern = (base / "quorvel-fuzz-XXXXXX.img").string();
    fd_ = ::mkstemps(pattern.data(), 4);
    if (fd_ < 0) std::abort();
    path_ = pattern;
  }
  ~ImageFile() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Empties the file and gives it `size` bytes of zeros (a hole).
  void Reset(uint64_t size) {
    if (::ftruncate(fd_, 0) != 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) std::abort();
  }
  void Write(uint64_t offset, std::span<const uint8_t> bytes) {
    if (::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes.size()))
      std::abort();
  }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

inline void PutBe(uint8_t* at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) at[i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}
inline void PutLe(uint8_t* at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace quorvel::fuzz

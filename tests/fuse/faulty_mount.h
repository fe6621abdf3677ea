#pragma once
// Test support: mounts an image through faulty_image_fs, so its listed
// sectors fail with EIO, and always unmounts again. Plain C++, usable from the
// GoogleTest and the Qt tests.
#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::test {

struct BadRun {
  uint64_t first = 0;
  uint64_t count = 1;
};

class FaultyMount {
 public:
  // Why faulty mounts cannot be made here (no /dev/fuse, no helper); empty
  // when they can. Tests skip with this message, except where they are
  // required (Required()).
  static std::string Unavailable();
  // CI=true: the failing-disk tests must run, so a missing FUSE (or ddrescue)
  // fails them instead of letting them skip.
  static bool Required();

  // Mounts image at folder (created when missing) with the bad runs; every
  // read takes delayMs, a failing one errorDelayMs more; log (when given)
  // records each read request as "OFFSET SIZE RESULT".
  FaultyMount(const std::string& image, const std::string& folder, const std::vector<BadRun>& bad, int delayMs = 0,
              const std::string& log = "", int errorDelayMs = 0);
  ~FaultyMount();
  FaultyMount(const FaultyMount&) = delete;
  FaultyMount& operator=(const FaultyMount&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  // The faulty copy of the image.
  std::string path() const { return folder_ + "/disk.img"; }

 private:
  void Unmount();
  std::string folder_;
  pid_t pid_ = -1;
  bool ok_ = false;
  std::string error_;
};

// A read-only loop device over a file (for a block-device source); detached
// again on destruction.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& file);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& path() const { return path_; }  // empty when it could not be set up

 private:
  std::string path_;
};

}  // namespace quorvel::test

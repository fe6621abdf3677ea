// A disk image made of the input (at most 64 KiB): the partition-table walk.
#include <unistd.h>
#include <cstdint>
#include <cstdio>

#include "volumes/disk_enumeration.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  char path[] = "/tmp/quorvel-fuzz-disk-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) return 0;
  bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
  ::close(fd);
  if (written) {
    SectorDevice device;
    if (device.Open(path)) {
      DiskRecord disk;
      disk.devicePath = path;
      WalkPartitions(disk, device, path);
    }
  }
  ::unlink(path);
  return 0;
}

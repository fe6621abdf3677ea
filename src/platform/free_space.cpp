#include "platform/free_space.h"

#include <sys/statvfs.h>

namespace quorvel {

uint64_t FreeSpaceBytes(const std::string& path) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return 0;
  return static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
}

}  // namespace quorvel

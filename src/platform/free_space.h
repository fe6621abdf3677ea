#pragma once
#include <cstdint>
#include <string>

namespace quorvel {

// Bytes an unprivileged writer may still use on the file system holding path
// (statvfs f_bavail x f_frsize); 0 when it cannot be asked.
uint64_t FreeSpaceBytes(const std::string& path);

}  // namespace quorvel

#include "platform/sys_files.h"

#include <dirent.h>
#include <sys/sysmacros.h>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/physical_disks.h"

namespace quorvel {

std::string FirstLineOf(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

std::string LoopBackingFile(const std::string& sysDevice) {
  std::string line = FirstLineOf(sysDevice + "/loop/backing_file");
  const std::string deleted = " (deleted)";
  if (line.size() > deleted.size() && line.compare(line.size() - deleted.size(), deleted.size(), deleted) == 0)
    line.resize(line.size() - deleted.size());
  return line;
}

bool ParseDevNumber(const std::string& text, dev_t& dev) {
  unsigned maj = 0, min = 0;
  if (std::sscanf(text.c_str(), "%u:%u", &maj, &min) != 2) return false;
  dev = makedev(maj, min);
  return true;
}

std::vector<MountEntry> ReadMountTable() {
  std::vector<MountEntry> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin, word;
    MountEntry m;
    fields >> id >> parent >> majmin >> m.root >> m.mountPoint;
    if (!ParseDevNumber(majmin, m.dev)) continue;
    // Optional fields end at a lone "-"; the file-system type and source follow.
    while (fields >> word && word != "-") {
    }
    fields >> m.fsType >> m.source;
    m.root = DecodeMountField(m.root);
    m.mountPoint = DecodeMountField(m.mountPoint);
    m.source = DecodeMountField(m.source);
    mounts.push_back(std::move(m));
  }
  return mounts;
}

}  // namespace quorvel

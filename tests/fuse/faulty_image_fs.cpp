// A test helper: a read-only FUSE file system holding one file, a copy of an
// image whose listed sectors fail with EIO - a disk with real bad sectors for
// the imaging tests and benchmarks.
//   faulty_image_fs IMAGE MOUNTPOINT [--bad FIRST[-LAST]]... [--bad-list FILE]
//                   [--name NAME] [--delay-ms N] [--error-delay-ms N] [--log FILE]
// --bad lists sector numbers (512 bytes) that cannot be read; a read request
// touching one fails as a whole, as a disk's would. --bad-list reads such
// runs from a file, one a line. --delay-ms slows every read (a slow disk, or
// to stop a copy in the middle); --error-delay-ms slows each failing read
// more (a disk retrying inside before it gives up); --log records each read
// request as "OFFSET SIZE RESULT".
// Files are opened with direct_io, so the kernel passes every read through
// unchanged (no page cache, no read-ahead) and a 512-byte read of a good
// sector next to a bad one succeeds.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct State {
  int fd = -1;
  uint64_t size = 0;
  std::string name = "disk.img";
  std::map<uint64_t, uint64_t> bad;  // first sector -> last sector
  int delayMs = 0;
  int errorDelayMs = 0;
  FILE* log = nullptr;
  std::mutex logMutex;
};
State g;

bool TouchesBad(uint64_t offset, uint64_t size) {
  if (size == 0) return false;
  uint64_t first = offset / 512, last = (offset + size - 1) / 512;
  auto it = g.bad.upper_bound(last);
  if (it == g.bad.begin()) return false;
  --it;  // the last run starting at or before `last`
  return it->second >= first;
}

int GetAttr(const char* path, struct stat* st, struct fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  if (path[0] == '/' && g.name == path + 1) {
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = static_cast<off_t>(g.size);
    return 0;
  }
  return -ENOENT;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
            enum fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, g.name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, struct fuse_file_info* fi) {
  if (path[0] != '/' || g.name != path + 1) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  fi->direct_io = 1;
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, struct fuse_file_info*) {
  if (g.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(g.delayMs));
  uint64_t off = static_cast<uint64_t>(offset);
  size_t want = off >= g.size ? 0 : static_cast<size_t>(std::min<uint64_t>(size, g.size - off));
  int result;
  if (TouchesBad(off, want)) {
    if (g.errorDelayMs) std::this_thread::sleep_for(std::chrono::milliseconds(g.errorDelayMs));
    result = -EIO;
  } else {
    size_t done = 0;
    while (done < want) {
      ssize_t got = ::pread(g.fd, buffer + done, want - done, static_cast<off_t>(off + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    result = static_cast<int>(done);
  }
  if (g.log) {
    std::lock_guard<std::mutex> lock(g.logMutex);
    std::fprintf(g.log, "%llu %zu %d\n", static_cast<unsigned long long>(off), size, result);
    std::fflush(g.log);
  }
  return result;
}

bool ParseRun(const char* text, uint64_t& first, uint64_t& last) {
  char* end = nullptr;
  first = std::strtoull(text, &end, 0);
  if (end == text) return false;
  last = first;
  if (*end == '-') {
    const char* rest = end + 1;
    last = std::strtoull(rest, &end, 0);
    if (end == rest || last < first) return false;
  }
  return *end == '\0';
}

void AddRun(uint64_t first, uint64_t last) { g.bad[first] = std::max(last, g.bad.count(first) ? g.bad[first] : last); }

// One run a line; empty lines and lines starting with '#' are skipped.
bool ReadRuns(const char* path) {
  FILE* f = std::fopen(path, "r");
  if (!f) return false;
  char line[128];
  bool ok = true;
  while (ok && std::fgets(line, sizeof line, f)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    uint64_t first, last;
    ok = ParseRun(text.c_str(), first, last);
    if (ok) AddRun(first, last);
  }
  std::fclose(f);
  return ok;
}

int Usage() {
  std::fprintf(stderr,
               "usage: faulty_image_fs IMAGE MOUNTPOINT [--bad FIRST[-LAST]]... [--bad-list FILE] [--name NAME] "
               "[--delay-ms N] [--error-delay-ms N] [--log FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string image = argv[1], mountPoint = argv[2];
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (arg == "--bad") {
      uint64_t first, last;
      if (!ParseRun(value, first, last)) return Usage();
      AddRun(first, last);
    } else if (arg == "--bad-list") {
      if (!ReadRuns(value)) return Usage();
    } else if (arg == "--name") {
      g.name = value;
    } else if (arg == "--delay-ms") {
      g.delayMs = std::atoi(value);
    } else if (arg == "--error-delay-ms") {
      g.errorDelayMs = std::atoi(value);
    } else if (arg == "--log") {
      g.log = std::fopen(value, "a");
    } else {
      return Usage();
    }
  }
  // Merge overlapping runs so the lookup above sees one run per stretch.
  for (auto it = g.bad.begin(); it != g.bad.end();) {
    auto next = std::next(it);
    if (next != g.bad.end() && next->first <= it->second + 1) {
      it->second = std::max(it->second, next->second);
      g.bad.erase(next);
    } else {
      it = next;
    }
  }
  g.fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (g.fd < 0 || ::fstat(g.fd, &st) != 0) {
    std::perror(image.c_str());
    return 1;
  }
  g.size = static_cast<uint64_t>(st.st_size);
  char* absolute = ::realpath(image.c_str(), nullptr);
  // The image's path as the mount's source: writing there would change what
  // this file system serves, and tools that follow mount sources see that.
  std::string options = std::string("ro,auto_unmount,fsname=") + (absolute ? absolute : image.c_str());
  std::free(absolute);

  static struct fuse_operations ops {};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  std::vector<std::string> words{argv[0], mountPoint, "-f", "-s", "-o", options};
  std::vector<char*> fuseArgv;
  for (std::string& w : words) fuseArgv.push_back(w.data());
  return fuse_main(static_cast<int>(fuseArgv.size()), fuseArgv.data(), &ops, nullptr);
}

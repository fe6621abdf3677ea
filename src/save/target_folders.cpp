#include "save/target_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "save/target_naming.h"
#include "save/target_stream.h"

namespace quorvel {

namespace {

// Folders of the chain held open whatever its depth; below them only the
// deepest is, so a tree nested thousands deep cannot use up the process's
// descriptors (a level let go is opened again from the nearest held one).
constexpr size_t kMaxHeldLevels = 32;

#ifndef STATX_MNT_ID
constexpr unsigned kStatxMountId = 0x1000U;
#else
constexpr unsigned kStatxMountId = STATX_MNT_ID;
#endif

// Folders are held with O_PATH: they are only ever a place to make, open
// and remove entries in, and a chosen folder the user may write to but not
// list (mode -wx) is still a target.

// The mount a descriptor lies on, when the kernel tells it.
bool MountIdOf(int fd, uint64_t& id) {
  struct statx st {};
  if (::statx(fd, "", AT_EMPTY_PATH, kStatxMountId, &st) != 0 || !(st.stx_mask & kStatxMountId)) return false;
  id = st.stx_mnt_id;
  return true;
}

// The part of path below root ("a/b/f.txt" of "root/a/b/f.txt").
bool BelowRoot(const std::string& root, const std::string& path, std::string_view& rest) {
  const std::string_view p(path);
  if (root.empty()) {
    rest = p;
    return true;
  }
  if (p.size() <= root.size() || p.compare(0, root.size(), root) != 0) return false;
  if (root.back() == '/') {
    rest = p.substr(root.size());
    return true;
  }
  if (p[root.size()] != '/') return false;
  rest = p.substr(root.size() + 1);
  return true;
}

// Names along rest; false for an empty, "." or ".." name (none that the save
// engines make: their names are repaired first).
bool SplitNames(std::string_view rest, std::vector<std::string_view>& names) {
  for (;;) {
    const size_t slash = rest.find('/');
    const std::string_view name = rest.substr(0, slash);
    if (name.empty() || name == "." || name == "..") return false;
    names.push_back(name);
    if (slash == std::string_view::npos) return true;
    rest.remove_prefix(slash + 1);
  }
}

bool Fail(TargetFile& file, int error) {
  file.NoteError(error);
  errno = error;
  return false;
}

}  // namespace

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) ::close(fd_);
}

size_t TargetFolders::HeldFolders() const {
  size_t held = root_ ? 1 : 0;
  for (const Level& level : chain_) held += level.folder ? 1 : 0;
  return held;
}

bool TargetFolders::OpenRoot(const std::string& root, int& error) {
  if (root_ && rootPath_ == root) return true;
  root_.reset();
  chain_.clear();
  const std::string path = root.empty() ? "." : root;
  int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && CreateFolderChain(path)) fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
    ::close(fd);
    return false;
  }
  root_ = std::make_shared<FolderHandle>(fd);
  rootPath_ = root;
  rootDevice_ = st.st_dev;
  rootMountKnown_ = MountIdOf(fd, rootMount_);
  return true;
}

bool TargetFolders::OnRootMount(int fd) const {
  // The mount decides where it is known: a btrfs subvolume has a device
  // number of its own but is no mount crossed.
  uint64_t mount = 0;
  if (rootMountKnown_ && MountIdOf(fd, mount)) return mount == rootMount_;
  struct stat st {};
  return ::fstat(fd, &st) == 0 && st.st_dev == rootDevice_;
}

SharedFolder TargetFolders::OpenChild(const FolderHandle& parent, const std::string& name, bool create,
                                      int& error) const {
  for (int made = 0;;) {
    const int fd = ::openat(parent.fd(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      if (OnRootMount(fd)) return std::make_shared<FolderHandle>(fd);
      ::close(fd);
      error = EXDEV;
      return nullptr;
    }
    int why = errno;
    if (why == EINTR) continue;
    if (why == ENOENT && create && made++ < 2) {
      if (::mkdirat(parent.fd(), name.c_str(), 0777) == 0 || errno == EEXIST) continue;
      error = errno;
      return nullptr;
    }
    if (why == ELOOP || why == ENOTDIR) {
      // O_NOFOLLOW answers either for a link; a file in the way is ENOTDIR.
      struct stat st {};
      const bool link = ::fstatat(parent.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      why = link ? ELOOP : ENOTDIR;
    }
    error = why;
    return nullptr;
  }
}

SharedFolder TargetFolders::LevelFolder(size_t depth, int& error) {
  if (chain_[depth].folder) return chain_[depth].folder;
  size_t held = depth;
  while (held > 0 && !chain_[held - 1].folder) --held;
  SharedFolder folder = held > 0 ? chain_[held - 1].folder : root_;
  for (size_t i = held; i <= depth && folder; ++i) folder = OpenChild(*folder, chain_[i].name, true, error);
  chain_[depth].folder = folder;
  return folder;
}

SharedFolder TargetFolders::Enter(const std::vector<std::string_view>& names, int& error) {
  size_t common = 0;
  while (common < chain_.size() && common < names.size() && chain_[common].name == names[common]) ++common;
  chain_.resize(common);
  SharedFolder folder = common > 0 ? LevelFolder(common - 1, error) : root_;
  for (size_t i = common; i < names.size() && folder; ++i) {
    folder = OpenChild(*folder, std::string(names[i]), true, error);
    if (!folder) break;
    if (i > kMaxHeldLevels) chain_[i - 1].folder.reset();
    chain_.push_back({std::string(names[i]), folder});
  }
  return folder;
}

bool TargetFolders::Create(const std::string& root, const std::string& path, TargetFile& file, int64_t& counter) {
  file.Close();
  if (TargetStream* stream = CurrentTargetStream()) {
    // Nothing is made on disk: the first file goes to the stream, the rest nowhere.
    file.AdoptStream(stream->TakeNextFile() ? stream : nullptr, TargetCandidateName(path, counter));
    return true;
  }
  int error = 0;
  if (!OpenRoot(root, error)) return Fail(file, error);
  std::string_view rest;
  std::vector<std::string_view> names;
  if (!BelowRoot(root, path, rest) || !SplitNames(rest, names)) return Fail(file, EINVAL);
  const std::string name(names.back());
  names.pop_back();
  SharedFolder folder = Enter(names, error);
  if (!folder) return Fail(file, error);
  bool enteredAgain = false;
  // Enough tries for any real folder; a bound so a strange file system that
  // answers "exists" to everything cannot hold the save forever.
  for (int tries = 0; tries < 1000000; ++tries) {
    const std::string candidate = TargetCandidateName(name, counter);
    // O_EXCL: an existing file (or a link planted where the name goes) is
    // never opened, so nothing is ever overwritten or truncated.
    const int fd =
        ::openat(folder->fd(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      file.AdoptIn(fd, folder, candidate, TargetCandidateName(path, counter));
      return true;
    }
    const int why = errno;
    if (why == EEXIST) {
      ++counter;
    } else if (why == ENOENT && !enteredAgain) {
      // The folder was removed while held: made again, once.
      enteredAgain = true;
      chain_.clear();
      folder = Enter(names, error);
      if (!folder) return Fail(file, error);
    } else if (why != EINTR) {
      return Fail(file, why);
    }
  }
  return Fail(file, EEXIST);
}

}  // namespace quorvel

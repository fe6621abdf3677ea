#pragma once
// The folders of a save below the folder the user chose, made and entered
// one at a time through descriptors, never through a path the kernel walks:
// a symbolic link or a mount point planted inside the chosen folder (by
// another user, or left by an earlier program) is never followed, so no file
// of a save lands anywhere but below that folder. The chosen folder itself is
// the user's choice and may be reached through links of the user's own.
//
// The chain of folders the last file went into stays open, so the files of
// one folder (and of its neighbours) are created without walking the chain
// again.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class TargetFile;

// A folder held open; closed when the last holder (the chain, or a file
// created in it that may still have to be removed) lets go.
class FolderHandle {
 public:
  explicit FolderHandle(int fd) : fd_(fd) {}
  ~FolderHandle();
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};
using SharedFolder = std::shared_ptr<const FolderHandle>;

class TargetFolders {
 public:
  // Creates path for writing, path being root + "/" + the names of folders
  // below root + "/" + a file name. Missing folders are made; an existing
  // entry on the way that is a symbolic link (ELOOP), no folder (ENOTDIR) or
  // a folder of another mount (EXDEV) refuses the file. A taken file name
  // moves on to the counter names (TargetCandidateName), going on from
  // counter (-1: the name itself first); nothing existing is ever opened. A
  // missing root is made as its path says. False with file.lastError() (and
  // errno) set when the file could not be created.
  bool Create(const std::string& root, const std::string& path, TargetFile& file, int64_t& counter);

  // Folders held open right now (the root included), for tests.
  size_t HeldFolders() const;

 private:
  struct Level {
    std::string name;
    SharedFolder folder;  // null when let go to stay within kMaxHeldLevels
  };

  bool OpenRoot(const std::string& root, int& error);
  // The folder of names (below the root), made where missing.
  SharedFolder Enter(const std::vector<std::string_view>& names, int& error);
  // The folder of level `depth` of the chain, opened again from the nearest
  // held one above it when it was let go.
  SharedFolder LevelFolder(size_t depth, int& error);
  // The folder `name` inside parent, made when missing and create is set.
  SharedFolder OpenChild(const FolderHandle& parent, const std::string& name, bool create, int& error) const;
  bool OnRootMount(int fd) const;

  std::string rootPath_;
  SharedFolder root_;
  dev_t rootDevice_ = 0;
  uint64_t rootMount_ = 0;
  bool rootMountKnown_ = false;
  std::vector<Level> chain_;
};

}  // namespace quorvel

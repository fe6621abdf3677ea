#include "save/target_naming.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

#include "io/byte_source.h"
#include "save/target_folders.h"
#include "save/target_stream.h"

namespace quorvel {

TargetFile::~TargetFile() { Close(); }

TargetFile::TargetFile(TargetFile&& other) noexcept
    : fd_(other.fd_),
      stream_(other.stream_),
      discard_(other.discard_),
      position_(other.position_),
      length_(other.length_),
      path_(std::move(other.path_)),
      folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      lastError_(other.lastError_) {
  other.fd_ = -1;
  other.stream_ = nullptr;
  other.discard_ = false;
}

TargetFile& TargetFile::operator=(TargetFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    stream_ = other.stream_;
    discard_ = other.discard_;
    position_ = other.position_;
    length_ = other.length_;
    path_ = std::move(other.path_);
    folder_ = std::move(other.folder_);
    name_ = std::move(other.name_);
    lastError_ = other.lastError_;
    other.fd_ = -1;
    other.stream_ = nullptr;
    other.discard_ = false;
  }
  return *this;
}

void TargetFile::Adopt(int fd, const std::string& path) {
  Close();
  fd_ = fd;
  path_ = path;
  folder_.reset();
  name_.clear();
  position_ = 0;
  length_ = 0;
  lastError_ = 0;
}

void TargetFile::AdoptIn(int fd, std::shared_ptr<const FolderHandle> folder, const std::string& name,
                         const std::string& path) {
  Adopt(fd, path);
  folder_ = std::move(folder);
  name_ = name;
}

void TargetFile::AdoptStream(TargetStream* stream, const std::string& path) {
  Close();
  stream_ = stream;
  discard_ = stream == nullptr;
  path_ = path;
  position_ = 0;
  lastError_ = 0;
}

bool TargetFile::Write(const void* data, size_t length) {
  if (discard_) {
    position_ += length;
    return true;
  }
  if (stream_) {
    if (!stream_->WriteAt(position_, data, length)) {
      lastError_ = stream_->error();
      return false;
    }
    position_ += length;
    return true;
  }
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, p + done, length - done, static_cast<off_t>(position_ + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno;
      break;
    }
    if (n == 0) {
      lastError_ = ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  position_ += done;
  length_ = std::max(length_, position_);
  return done == length;
}

size_t TargetFile::CopyFrom(const ByteSource& source, uint64_t offset, size_t length, size_t unit) {
  if (fd_ < 0 || stream_ || discard_ || unit == 0) return 0;
  const size_t arrived = source.CopyTo(offset, length, fd_, position_);
  length_ = std::max(length_, position_ + arrived);
  // Bytes that arrived past the last whole unit are written again by the
  // careful read that takes over there.
  const size_t done = arrived < length ? arrived - arrived % unit : arrived;
  position_ += done;
  return done;
}

bool TargetFile::Seek(uint64_t position) {
  position_ = position;
  return IsOpen();
}

bool TargetFile::SetLength(uint64_t length) {
  if (discard_) return true;
  if (stream_) {
    stream_->ExtendTo(length);
    return true;
  }
  if (fd_ < 0) return false;
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
    lastError_ = errno;
    return false;
  }
  length_ = length;
  return true;
}

void TargetFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  // The stream is the caller's; only the zeros the file's length asks for are
  // still owed to it.
  if (stream_) stream_->Finish();
  fd_ = -1;
  stream_ = nullptr;
  discard_ = false;
  folder_.reset();  // the folder stays open only while a file in it may be removed
}

void TargetFile::Discard() {
  if (fd_ < 0) return;
  const std::shared_ptr<const FolderHandle> folder = folder_;
  Close();
  // Through the folder it was made in: a link put in place of one of the
  // path's folders meanwhile must not lead the removal elsewhere.
  if (folder)
    ::unlinkat(folder->fd(), name_.c_str(), 0);
  else
    ::unlink(path_.c_str());
}

std::string JoinTargetPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string TargetCandidateName(const std::string& path, int64_t counter) {
  if (counter < 0) return path;
  // Only the file name's own "." counts, not one in a folder of the path.
  size_t slash = path.rfind('/');
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  std::string number = std::to_string(counter);
  if (dot == std::string::npos || dot < nameStart) return path + number;
  return path + number + "." + path.substr(dot + 1);
}

static std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();  // the current folder
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool CreateTargetFile(TargetFile& file, const std::string& path, int64_t& counter) {
  TargetFolders folders;
  return folders.Create(FolderOf(path), path, file, counter);
}

bool CreateTargetFile(TargetFile& file, const std::string& path) {
  int64_t counter = -1;
  return CreateTargetFile(file, path, counter);
}

static bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolderChain(const std::string& folder) {
  if (folder.empty()) return false;
  if (IsFolder(folder)) return true;
  // Every prefix at each "/", in order; a prefix that exists already simply
  // fails to be made, only the final test counts. errno then tells why.
  int failure = 0;
  for (size_t pos = folder.find('/', 1);; pos = folder.find('/', pos + 1)) {
    std::string prefix = pos == std::string::npos ? folder : folder.substr(0, pos);
    if (!prefix.empty() && prefix.back() != '/' && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
      failure = errno;
    if (pos == std::string::npos) break;
  }
  if (IsFolder(folder)) return true;
  if (failure) errno = failure;
  return false;
}

}  // namespace quorvel

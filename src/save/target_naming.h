#pragma once
// Target files and folders: a saved file never overwrites or truncates
// anything, and the folders that lead to it are made on demand.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorvel {

class ByteSource;
class FolderHandle;
class TargetStream;

// A file created for writing under a target folder. Move-only; closed by its
// destructor.
class TargetFile {
 public:
  TargetFile() = default;
  ~TargetFile();
  TargetFile(TargetFile&& other) noexcept;
  TargetFile& operator=(TargetFile&& other) noexcept;
  TargetFile(const TargetFile&) = delete;
  TargetFile& operator=(const TargetFile&) = delete;

  bool IsOpen() const { return fd_ >= 0 || stream_ || discard_; }
  const std::string& path() const { return path_; }
  // Writes at the current position and advances; false when not all bytes
  // could be written (for example a full target).
  bool Write(const void* data, size_t length);
  // Copies length bytes at offset of source to the current position without
  // a buffer (ByteSource::CopyTo) and advances by what arrived: a whole
  // number of `unit`s, or length. 0 for a stream or a dropped file.
  size_t CopyFrom(const ByteSource& source, uint64_t offset, size_t length, size_t unit);
  bool Seek(uint64_t position);
  uint64_t Position() const { return position_; }
  bool SetLength(uint64_t length);
  // The file's length as written so far.
  uint64_t Length() const { return length_; }
  void Close();
  // Closes and removes the file: one that must not stay under its name
  // (writing failed, or the run was stopped while it was written).
  void Discard();
  // errno of the last failed operation (also of a failed CreateTargetFile).
  int lastError() const { return lastError_; }
  void NoteError(int error) { lastError_ = error; }

  // Takes an already created descriptor.
  void Adopt(int fd, const std::string& path);
  // The same for a file created as `name` inside a held folder
  // (save/target_folders.h): removing it goes through the folder, not the path.
  void AdoptIn(int fd, std::shared_ptr<const FolderHandle> folder, const std::string& name, const std::string& path);
  // Writes into stream instead (save/target_stream.h); with a null stream
  // every byte is dropped.
  void AdoptStream(TargetStream* stream, const std::string& path);

 private:
  int fd_ = -1;
  TargetStream* stream_ = nullptr;
  bool discard_ = false;
  uint64_t position_ = 0;
  uint64_t length_ = 0;
  std::string path_;
  std::shared_ptr<const FolderHandle> folder_;  // where the file was created, when held
  std::string name_;                            // its name there
  int lastError_ = 0;
};

// Candidate names for a taken path: the path, then path + N + "." + ext (ext
// being the text after the last "." of the file name: a.jpg -> a.jpg0.jpg,
// a.jpg1.jpg, ...), or path + N for a name without ".".
std::string TargetCandidateName(const std::string& path, int64_t counter);

// Creates path for writing without touching any existing file: a taken name
// moves on to the counter names. The folder of path is the chosen one (made
// with CreateFolderChain when missing); the file is created inside it without
// following a link (the save engines create whole chains below a chosen
// folder with TargetFolders, save/target_folders.h). True when the file is
// open; file.path() is the name used.
bool CreateTargetFile(TargetFile& file, const std::string& path);
// The same, going on from `counter` (-1 = the path itself first); on success
// counter holds the candidate that was created.
bool CreateTargetFile(TargetFile& file, const std::string& path, int64_t& counter);

// Makes sure folder exists, creating every missing folder on the way. True
// when it is a folder afterwards.
bool CreateFolderChain(const std::string& folder);

// folder + "/" + name.
std::string JoinTargetPath(const std::string& folder, const std::string& name);

}  // namespace quorvel

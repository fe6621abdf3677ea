#pragma once
// One file of a save written to a stream (standard output, a pipe) instead
// of under a target folder. `quorvel cat` runs the save engines this way, so
// the bytes it prints come from the same extraction as the files `save`
// writes, with the same accounting of what could not be read.
//
// While a TargetStreamScope lives on a thread, the first target file that
// thread creates (CreateTargetFile, save/target_naming.h) writes into the
// stream; any further one (a second signature match, say) takes its bytes
// nowhere and is only counted. A stream cannot seek: a gap the engine skips
// (a sparse run, the room SetLength makes) is written as zeros, and a write
// behind what was already sent fails.
#include <cstddef>
#include <cstdint>

namespace quorvel {

class TargetStream {
 public:
  explicit TargetStream(int fd) : fd_(fd) {}

  // The streamed file's bytes from position on (zeros fill a gap before it).
  bool WriteAt(uint64_t position, const void* data, size_t length);
  // The file is at least length bytes long: zeros follow at Finish.
  void ExtendTo(uint64_t length);
  // Sends the zeros the file's length still asks for.
  bool Finish();

  uint64_t sent() const { return sent_; }
  int error() const { return error_; }  // errno of the failed write, else 0
  // Target files created while the scope lived, the streamed one included.
  unsigned filesCreated() const { return filesCreated_; }

  // Used by CreateTargetFile: true for the file that gets the stream.
  bool TakeNextFile() { return filesCreated_++ == 0; }

 private:
  bool Send(const void* data, size_t length);
  bool SendZeros(uint64_t count);

  int fd_;
  uint64_t sent_ = 0;
  uint64_t length_ = 0;
  int error_ = 0;
  unsigned filesCreated_ = 0;
};

// Routes this thread's target files into stream while it lives.
class TargetStreamScope {
 public:
  explicit TargetStreamScope(TargetStream& stream);
  ~TargetStreamScope();
  TargetStreamScope(const TargetStreamScope&) = delete;
  TargetStreamScope& operator=(const TargetStreamScope&) = delete;

 private:
  TargetStream* previous_;
};

// The stream of the innermost scope on this thread, or null.
TargetStream* CurrentTargetStream();

}  // namespace quorvel

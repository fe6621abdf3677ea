// A save's one file written into a stream (what `quorvel cat` prints): the
// engines' positioned writes must come out as the file a save would leave.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

#include "save/target_naming.h"
#include "save/target_stream.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

// A pipe whose read end is drained after the writes.
struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    if (fds[0] >= 0) ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
  }
  std::string Drain() {
    ::close(fds[1]);
    fds[1] = -1;
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    return out;
  }
  int fds[2] = {-1, -1};
};

// Catches: skipped stretches (sparse runs) and the room SetLength makes
// dropped from the stream, so later bytes land at the wrong offsets.
TEST(TargetStream, GapsAndLengthBecomeZeros) {
  Pipe pipe;
  TargetStream stream(pipe.fds[1]);
  {
    TargetStreamScope scope(stream);
    TargetFile file;
    ASSERT_TRUE(CreateTargetFile(file, "/nonexistent/folder/a.bin"));
    EXPECT_EQ(file.path(), "/nonexistent/folder/a.bin");  // named, never made
    ASSERT_TRUE(file.SetLength(12));
    ASSERT_TRUE(file.Write("ab", 2));
    file.Seek(5);
    ASSERT_TRUE(file.Write("cd", 2));
  }  // closing the file sends the zeros up to its length
  EXPECT_EQ(pipe.Drain(), std::string("ab\0\0\0cd\0\0\0\0\0", 12));
  EXPECT_EQ(stream.sent(), 12u);
  EXPECT_EQ(stream.filesCreated(), 1u);
  EXPECT_EQ(CurrentTargetStream(), nullptr);
}

// Catches: a write behind what was sent reported as done (a stream cannot
// seek back), and a second file of the run mixed into the first's bytes.
TEST(TargetStream, BackwardWritesFailAndLaterFilesAreOnlyCounted) {
  Pipe pipe;
  TargetStream stream(pipe.fds[1]);
  {
    TargetStreamScope scope(stream);
    TargetFile first, second;
    int64_t counter = -1;
    ASSERT_TRUE(CreateTargetFile(first, "x.jpg", counter));
    ASSERT_TRUE(first.Write("first", 5));
    first.Seek(1);
    EXPECT_FALSE(first.Write("!", 1));
    EXPECT_EQ(first.lastError(), ESPIPE);
    counter = 0;
    ASSERT_TRUE(CreateTargetFile(second, "x.jpg", counter));
    EXPECT_EQ(second.path(), "x.jpg0.jpg");
    EXPECT_TRUE(second.Write("second", 6));
  }
  EXPECT_EQ(stream.filesCreated(), 2u);
  EXPECT_EQ(pipe.Drain(), "first");
  // Outside the scope files are made on disk again.
  const std::string dir = MakeTempDir("stream-scope");
  TargetFile real;
  ASSERT_TRUE(CreateTargetFile(real, dir + "/made.txt"));
  ASSERT_TRUE(real.Write("x", 1));
  real.Close();
  EXPECT_EQ(ReadWholeFile(dir + "/made.txt").size(), 1u);
}

// Catches: a reader that went away (cat | head) reported as a complete write.
TEST(TargetStream, ClosedReaderIsAnError) {
  Pipe pipe;
  ::close(pipe.fds[0]);
  pipe.fds[0] = -1;
  ::signal(SIGPIPE, SIG_IGN);
  TargetStream stream(pipe.fds[1]);
  TargetStreamScope scope(stream);
  TargetFile file;
  ASSERT_TRUE(CreateTargetFile(file, "a"));
  EXPECT_FALSE(file.Write("abc", 3));
  EXPECT_EQ(stream.error(), EPIPE);
  ::signal(SIGPIPE, SIG_DFL);
}

}  // namespace
}  // namespace quorvel::test

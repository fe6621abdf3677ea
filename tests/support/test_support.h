#pragma once
// Helpers shared by the test executables: fixture paths, running commands,
// hashing files so a test can prove a source image was left untouched.
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::test {

// Path of a fixture image built by tests/fixtures/make_fixtures.sh.
std::string FixturePath(const std::string& name);
// True when the fixture exists; tests skip with a message otherwise, but
// under CI=true a missing fixture is also a failure of the asking test.
bool HaveFixture(const std::string& name);
// CI=true: every fixture must have been built.
bool FixturesRequired();

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
// Runs a shell command line; captures stdout and stderr.
CommandResult RunCommand(const std::string& commandLine);
// Runs the quorvel executable with the given arguments (already quoted).
CommandResult RunQuorvel(const std::string& arguments);
// Quotes one argument for the shell.
std::string ShellQuote(const std::string& text);

// SHA-256 of a file through sha256sum; empty on failure.
std::string FileSha256(const std::string& path);
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// A fresh empty folder under the build tree's temporary area.
std::string MakeTempDir(const std::string& tag);

}  // namespace quorvel::test

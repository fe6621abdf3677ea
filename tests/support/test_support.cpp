#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace quorvel::test {

std::string FixturePath(const std::string& name) { return std::string(QUORVEL_FIXTURE_DIR) + "/" + name; }

bool FixturesRequired() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

bool HaveFixture(const std::string& name) {
  struct stat st {};
  if (stat(FixturePath(name).c_str(), &st) == 0) return true;
  // Under CI a test must not pass by skipping what it was written to check.
  if (FixturesRequired()) ADD_FAILURE() << "fixture " << name << " was not built (CI=true)";
  return false;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

static std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

CommandResult RunCommand(const std::string& commandLine) {
  char outName[] = "/tmp/quorvel-test-outXXXXXX";
  char errName[] = "/tmp/quorvel-test-errXXXXXX";
  int outFd = mkstemp(outName);
  int errFd = mkstemp(errName);
  close(outFd);
  close(errFd);
  std::string full = commandLine + " >" + outName + " 2>" + errName + " </dev/null";
  int status = std::system(full.c_str());
  CommandResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadTextFile(outName);
  result.err = ReadTextFile(errName);
  unlink(outName);
  unlink(errName);
  return result;
}

CommandResult RunQuorvel(const std::string& arguments) { return RunCommand(ShellQuote(QUORVEL_CLI) + " " + arguments); }

std::string FileSha256(const std::string& path) {
  CommandResult r = RunCommand("sha256sum " + ShellQuote(path));
  if (r.exitCode != 0 || r.out.size() < 64) return {};
  return r.out.substr(0, 64);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string MakeTempDir(const std::string& tag) {
  // The fixture folder may not exist yet when a test binary runs on its own.
  mkdir(QUORVEL_FIXTURE_DIR, 0755);
  // Resolve the fixture folder first: it may be a symlink to another build's,
  // and a shell `cd` through "link/.." would land somewhere else.
  char resolved[PATH_MAX];
  std::string fixtures = realpath(QUORVEL_FIXTURE_DIR, resolved) ? resolved : QUORVEL_FIXTURE_DIR;
  std::string base = fixtures.substr(0, fixtures.find_last_of('/')) + "/test-tmp";
  mkdir(base.c_str(), 0755);
  std::string pattern = base + "/" + tag + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const char* made = mkdtemp(buf.data());
  return made ? std::string(made) : std::string();
}

}  // namespace quorvel::test

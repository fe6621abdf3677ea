// Targets someone else prepared: symbolic links planted inside the folder a
// save writes into, or at the name of a scan-result file, an image or a
// mapfile. Nothing may be written (or truncated, or removed) through them;
// the files they stand in the way of are reported, the others still saved.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "support/test_support.h"

namespace quorvel {
namespace {

using test::CommandResult;
using test::RunCommand;
using test::RunQuorvel;
using test::ShellQuote;

std::string Q(const std::string& path) { return ShellQuote(path); }

uint64_t FilesBelow(const std::string& dir) {
  // In a subshell: the command's own input is /dev/null, not wc's.
  return std::stoull("0" + RunCommand("(find " + Q(dir) + " -type f | wc -l)").out);
}

uint64_t JsonCount(const std::string& json, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\":(\\d+)"))) return UINT64_MAX;
  return std::stoull(m[1]);
}

bool IsLink(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string Slurp(const std::string& path) {
  auto bytes = test::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Catches: `save --to T` following a link planted as one of the folders it
// recreates (T/根目录, or a folder deeper down) and writing the files into
// whatever the link names. Every file below the link is reported as "target
// could not be created" (counted in --json, exit status 4); all the others
// are saved as into a clean folder. Both engines (FAT chains, NTFS records).
TEST(HostileTargetCli, SaveNeverFollowsLinksInsideTheTarget) {
  struct Case {
    const char* image;
    const char* linked;  // folder below the target replaced by a link
  } cases[] = {
      {"fat16.img", "根目录"},
      {"fat16.img", "根目录/many"},
      {"ntfs.img", "根目录/docs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " " + c.linked);
    if (!test::HaveFixture(c.image)) GTEST_SKIP() << c.image << " not built";
    const std::string image = test::FixturePath(c.image);
    const std::string dir = test::MakeTempDir("hostile-target");
    const std::string clean = dir + "/clean", target = dir + "/T", outside = dir + "/elsewhere";
    CommandResult r = RunQuorvel("save " + Q(image) + " 0 --to " + Q(clean) + " --allow-same-disk --quiet");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const uint64_t all = FilesBelow(clean), below = FilesBelow(clean + "/" + c.linked);
    ASSERT_GT(below, 0u);

    const std::string link = target + "/" + c.linked;
    ASSERT_EQ(RunCommand("mkdir -p " + Q(outside) + " \"$(dirname " + Q(link) + ")\"").exitCode, 0);
    ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
    r = RunQuorvel("save " + Q(image) + " 0 --to " + Q(target) + " --allow-same-disk --json");
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_EQ(FilesBelow(outside), 0u) << "written through the link";
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(JsonCount(r.out, "target_not_created"), below);
    EXPECT_EQ(JsonCount(r.out, "files_written"), all - below);
    EXPECT_EQ(FilesBelow(target), all - below);
    EXPECT_NE(r.out.find("a symbolic link is in the way"), std::string::npos) << r.out;
  }
}

// Catches: a scan-result file, an image file or a mapfile written through a
// link at its name: the image truncated whatever the link named (a file of
// the user's, a system file when run as root); the scan-result file replaced
// the link. Each is refused before anything is written, the link and what
// it names untouched.
TEST(HostileTargetCli, LinkedScanFileImageAndMapfileAreRefused) {
  if (!test::HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  const std::string image = Q(test::FixturePath("fat16.img"));
  const std::string dir = test::MakeTempDir("hostile-links");
  const std::string victim = dir + "/victim";
  { std::ofstream(victim) << "precious"; }
  for (const char* name : {"scan.rvz_scn", "out.img", "map.txt"})
    ASSERT_EQ(symlink(victim.c_str(), (dir + "/" + name).c_str()), 0);

  CommandResult r = RunQuorvel("deep-scan " + image + " --quiet --save-scan " + Q(dir + "/scan.rvz_scn"));
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("symbolic link"), std::string::npos) << r.err;
  r = RunQuorvel("image " + image + " --to-file " + Q(dir + "/out.img") + " --quiet");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("symbolic link"), std::string::npos) << r.err;
  r = RunQuorvel("image " + image + " --to-file " + Q(dir + "/new.img") + " --mapfile " + Q(dir + "/map.txt") +
                 " --quiet");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("symbolic link"), std::string::npos) << r.err;

  EXPECT_EQ(Slurp(victim), "precious");
  for (const char* name : {"scan.rvz_scn", "out.img", "map.txt"}) EXPECT_TRUE(IsLink(dir + "/" + name)) << name;
  // A link at a dangling name is refused too: it would create the file elsewhere.
  ASSERT_EQ(symlink((dir + "/nowhere.img").c_str(), (dir + "/dangling.img").c_str()), 0);
  r = RunQuorvel("image " + image + " --to-file " + Q(dir + "/dangling.img") + " --quiet");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_FALSE(std::ifstream(dir + "/nowhere.img").good());
}

}  // namespace
}  // namespace quorvel

// `quorvel cat`: one file's bytes on standard output, byte for byte what
// `quorvel save --path` writes and what icat prints for live files, deleted
// files included; short data said on stderr with exit status 4.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "core/byte_view.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

// The number `ls` shows for the entry with this name (first cluster on FAT).
uint64_t IdOf(const std::string& image, const std::string& name) {
  const std::string json = RunQuorvel("ls " + ShellQuote(image) + " 0 --json --quiet").out;
  std::smatch match;
  const std::regex entry("\"name\":\"" + name + "\",[^}]*\"id\":([0-9]+)");
  return std::regex_search(json, match, entry) ? std::stoull(match[1]) : 0;
}

std::string CatToFile(const std::string& arguments, const std::string& out, CommandResult& result) {
  // Through a pipe: the output is a stream that cannot seek.
  const std::string pipeline =
      std::string(QUORVEL_CLI) + " cat " + arguments + " | cat > " + ShellQuote(out) + "; exit ${PIPESTATUS[0]}";
  result = RunCommand("bash -c " + ShellQuote(pipeline));
  return FileSha256(out);
}

struct CatCase {
  const char* image;
  const char* path;
  const char* savedAs;  // where `save --path` puts it below the target
  int icatInode;        // 0: fls shows no live file to compare with
};

// Catches: a second extraction path whose bytes differ from save's (sparse
// and compressed NTFS data, fragmented runs, FAT chains, deleted files read
// from their first cluster), and a stream that loses the gaps a save leaves
// as zeros.
TEST(CatCli, BytesAreThoseSaveWritesAndIcatPrints) {
  const std::vector<CatCase> cases = {
      {"fat16.img", "根目录/MANY.BIN", "根目录/MANY.BIN", 16},
      {"fat16.img", "根目录/长文件夹名称/中文文件名.txt", "根目录/长文件夹名称/中文文件名.txt", 1030},
      {"fat16.img", "根目录/?rash/old notes.txt", "根目录/$rash/old notes.txt", 0},
      {"ntfs.img", "根目录/comp/text.txt", "根目录/comp/text.txt", 1004},
      {"ntfs.img", "根目录/comp/zeros.bin", "根目录/comp/zeros.bin", 1007},
      {"ntfs.img", "根目录/big/large.bin", "根目录/big/large.bin", 77},
      {"ntfs.img", "根目录/frag/a.bin", "根目录/frag/a.bin", 78},
      {"ntfs.img", "根目录/trash/t.bin", "根目录/trash/t.bin", 0},
  };
  const std::string dir = MakeTempDir("cat-cli");
  for (const CatCase& c : cases) {
    if (!HaveFixture(c.image)) GTEST_SKIP() << c.image << " not built";
    const std::string image = ShellQuote(FixturePath(c.image));
    CommandResult cat;
    const std::string catHash = CatToFile(image + " 0 " + ShellQuote(c.path), dir + "/cat.out", cat);
    EXPECT_EQ(cat.exitCode, 0) << c.path << "\n" << cat.err;
    const std::string target = MakeTempDir("cat-save");
    CommandResult save =
        RunQuorvel("save " + image + " 0 --quiet --to " + ShellQuote(target) + " --path " + ShellQuote(c.path));
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_EQ(catHash, FileSha256(target + "/" + c.savedAs)) << c.path;
    if (c.icatInode) {
      CommandResult icat = RunCommand("icat " + image + " " + std::to_string(c.icatInode));
      std::ofstream(dir + "/icat.out", std::ios::binary) << icat.out;
      EXPECT_EQ(catHash, FileSha256(dir + "/icat.out")) << c.path;
    }
  }
}

// Catches: folders, missing files and ambiguous paths answered with bytes.
TEST(CatCli, RefusesWhatIsNotOneFile) {
  if (!HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  const std::string image = ShellQuote(FixturePath("fat16.img"));
  CommandResult folder = RunQuorvel("cat " + image + " 0 根目录/docs");
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_TRUE(folder.out.empty());
  EXPECT_NE(folder.err.find("folder"), std::string::npos);
  CommandResult missing = RunQuorvel("cat " + image + " 0 根目录/none.txt");
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("根目录/none.txt"), std::string::npos);
  EXPECT_EQ(RunQuorvel("cat " + image + " 0").exitCode, 1);  // no PATH
  // --id picks among entries of one path; a number no entry has is not found.
  const uint64_t id = IdOf(FixturePath("fat16.img"), "MANY.BIN");
  ASSERT_NE(id, 0u);
  EXPECT_EQ(RunQuorvel("cat " + image + " 0 根目录/MANY.BIN --id " + std::to_string(id)).exitCode, 0);
  EXPECT_EQ(RunQuorvel("cat " + image + " 0 根目录/MANY.BIN --id " + std::to_string(id + 1)).exitCode, 2);
}

// Catches: a file whose FAT chain ends early printed as if complete (exit 0,
// nothing said), and the bytes that could be read held back.
TEST(CatCli, ShortDataIsReportedWithExitStatusFour) {
  if (!HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  const std::string dir = MakeTempDir("cat-short");
  const std::string copy = dir + "/fat16.img";
  ASSERT_EQ(RunCommand("cp " + ShellQuote(FixturePath("fat16.img")) + " " + ShellQuote(copy)).exitCode, 0);
  // MANY.BIN (75781 bytes): its chain ends after its first cluster.
  const uint64_t first = IdOf(copy, "MANY.BIN");
  ASSERT_NE(first, 0u);
  std::vector<uint8_t> boot = ReadWholeFile(copy);
  ASSERT_GT(boot.size(), 512u);
  const ByteView view(boot);
  const uint64_t reserved = view.Le16(14), fatSectors = view.Le16(22), clusterBytes = view.U8(13) * 512ull;
  const int fd = ::open(copy.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const uint8_t end[2] = {0xFF, 0xFF};
  for (uint64_t fat = 0; fat < 2; ++fat)
    ASSERT_EQ(::pwrite(fd, end, 2, static_cast<off_t>((reserved + fat * fatSectors) * 512 + first * 2)), 2);
  ::close(fd);

  CommandResult cat;
  const std::string out = dir + "/cat.out";
  CatToFile(ShellQuote(copy) + " 0 根目录/MANY.BIN", out, cat);
  EXPECT_EQ(cat.exitCode, 4) << cat.err;
  EXPECT_NE(cat.err.find("chain ended early"), std::string::npos) << cat.err;
  EXPECT_NE(cat.err.find("incomplete"), std::string::npos) << cat.err;
  EXPECT_EQ(ReadWholeFile(out).size(), clusterBytes);
}

}  // namespace
}  // namespace quorvel::test

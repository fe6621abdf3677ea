// Fixture images with stretches zeroed, as a disk that lost sectors or a
// wiped region leaves them: listing and saving must end, save what the rest
// still holds byte for byte, and report what they could not follow.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorvel {
namespace {

using test::CommandResult;
using test::FixturePath;
using test::RunCommand;
using test::RunQuorvel;
using test::ShellQuote;

uint64_t Le(const std::vector<uint8_t>& bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= uint64_t{bytes[at + i]} << (8 * i);
  return value;
}

// A copy of a fixture with `length` bytes zeroed at `offset`.
std::string ZeroedCopy(const std::string& fixture, uint64_t offset, uint64_t length, const std::string& dir) {
  std::vector<uint8_t> bytes = test::ReadWholeFile(FixturePath(fixture));
  for (uint64_t i = offset; i < offset + length && i < bytes.size(); ++i) bytes[i] = 0;
  const std::string path = dir + "/zeroed-" + fixture;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

// Files present under both folders (same relative path) whose bytes differ,
// and how many were compared.
std::pair<std::string, size_t> DifferingFiles(const std::string& saved, const std::string& reference) {
  const std::string ref = ShellQuote(reference) + "/\"$f\"";
  CommandResult r = RunCommand(
      "(cd " + ShellQuote(saved) + " && find . -type f | { n=0; while IFS= read -r f; do [ -f " + ref +
      " ] || continue; n=$((n+1)); cmp -s \"$f\" " + ref + " || echo \"$f\"; done; echo \"compared $n\"; })");
  std::smatch m;
  const bool found = std::regex_search(r.out, m, std::regex(R"(compared (\d+)\n$)"));
  return {found ? r.out.substr(0, static_cast<size_t>(m.position(0))) : r.out, found ? std::stoul(m[1]) : 0};
}

// Catches: live files whose FAT chain was wiped saved short in silence (exit
// 0), or saved past their first cluster from whatever follows it.
TEST(DamagedImages, WipedFatReportsEveryChainThatEndsEarly) {
  if (!test::HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  const std::vector<uint8_t> image = test::ReadWholeFile(FixturePath("fat16.img"));
  ASSERT_GE(image.size(), 512u);
  const uint64_t reserved = Le(image, 0x0E, 2), fats = image[0x10], fatSectors = Le(image, 0x16, 2);
  const uint64_t clusterBytes = uint64_t{image[0x0D]} * 512;
  const std::string dir = test::MakeTempDir("zero-fat");
  const std::string zeroed = ZeroedCopy("fat16.img", reserved * 512, fats * fatSectors * 512, dir);

  CommandResult save =
      RunQuorvel("save " + ShellQuote(zeroed) + " 0 --normal --to " + ShellQuote(dir + "/out") + " --json --quiet");
  EXPECT_EQ(save.exitCode, 4) << save.err;
  // Every live file longer than one cluster is named, with one cluster written.
  CommandResult ls = RunQuorvel("ls " + ShellQuote(FixturePath("fat16.img")) + " 0 --json --quiet");
  static const std::regex kLive(R"re("state":4,[^{}]*?"size":(\d+),"id":(\d+))re");
  size_t longer = 0;
  for (std::sregex_iterator it(ls.out.begin(), ls.out.end(), kLive), end; it != end; ++it) {
    const uint64_t size = std::stoull((*it)[1]), id = std::stoull((*it)[2]);
    if (size <= clusterBytes || id < 2) continue;
    ++longer;
    const std::string expected = "\"id\":" + std::to_string(id) + ",\"size\":" + std::to_string(size) +
                                 ",\"written\":" + std::to_string(clusterBytes) +
                                 ",\"missing\":" + std::to_string(size - clusterBytes) +
                                 ",\"reason\":\"chain_ended_early\"";
    EXPECT_NE(save.out.find(expected), std::string::npos) << "file at cluster " << id << ": " << save.out;
  }
  EXPECT_GT(longer, 3u);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(save.out, m, std::regex(R"("files_incomplete":(\d+))")));
  EXPECT_EQ(std::stoul(m[1]), longer);
}

// Catches: a wiped stretch of the MFT crashing or hanging the reader, or
// records after it lost or saved with other bytes than the intact image gives.
TEST(DamagedImages, WipedMftRecordsCostOnlyTheirOwnFiles) {
  if (!test::HaveFixture("ntfs.img")) GTEST_SKIP() << "ntfs.img not built";
  const std::vector<uint8_t> image = test::ReadWholeFile(FixturePath("ntfs.img"));
  ASSERT_GE(image.size(), 512u);
  const uint64_t clusterBytes = Le(image, 0x0B, 2) * image[0x0D];
  const uint64_t mft = Le(image, 0x30, 8) * clusterBytes;
  const uint64_t firstWiped = 300, wiped = 200;  // records 300-499: files of one folder
  const std::string dir = test::MakeTempDir("zero-mft");
  const std::string zeroed = ZeroedCopy("ntfs.img", mft + firstWiped * 1024, wiped * 1024, dir);

  CommandResult ls = RunQuorvel("ls " + ShellQuote(zeroed) + " 0 --json --quiet");
  ASSERT_EQ(ls.exitCode, 0) << ls.err;
  static const std::regex kId(R"re("id":(\d+))re");
  size_t listed = 0;
  for (std::sregex_iterator it(ls.out.begin(), ls.out.end(), kId), end; it != end; ++it) {
    const uint64_t id = std::stoull((*it)[1]);
    EXPECT_FALSE(id >= firstWiped && id < firstWiped + wiped) << "record " << id << " was wiped";
    ++listed;
  }
  EXPECT_GT(listed, 100u);

  CommandResult intact =
      RunQuorvel("save " + ShellQuote(FixturePath("ntfs.img")) + " 0 --to " + ShellQuote(dir + "/intact") + " --quiet");
  ASSERT_EQ(intact.exitCode, 0) << intact.err;
  CommandResult save = RunQuorvel("save " + ShellQuote(zeroed) + " 0 --to " + ShellQuote(dir + "/out") + " --quiet");
  EXPECT_TRUE(save.exitCode == 0 || save.exitCode == 4) << save.exitCode << ": " << save.err;
  const auto [differing, compared] = DifferingFiles(dir + "/out", dir + "/intact");
  EXPECT_EQ(differing, "");
  EXPECT_GT(compared, 100u);
}

}  // namespace
}  // namespace quorvel

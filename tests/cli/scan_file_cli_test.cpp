// Scan-result files through the command line, each command in a process of
// its own: what `ls` and `save` give with --scan FILE is what they give
// right after the scan; the file's target is judged before a scan; another
// disk's file, a damaged file and `scan-file show` say what they are.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "support/test_support.h"

namespace quorvel {
namespace {

using test::RunQuorvel;
using test::ShellQuote;

std::string Q(const std::string& path) { return ShellQuote(path); }

// SHA-256 of every file saved below dir, with its path.
std::string SavedTree(const std::string& dir) {
  return test::RunCommand("(cd " + Q(dir) + " && find . -type f -exec sha256sum {} + | sort)").out;
}

std::vector<std::string> PartitionNames(const std::string& json) {
  std::vector<std::string> names;
  static const std::regex kName(R"re("row":"[^"]*","name":"([^"]*)")re");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), kName); it != std::sregex_iterator(); ++it)
    names.push_back((*it)[1]);
  return names;
}

class WipedDiskFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveFixture("deep_wiped.img")) GTEST_SKIP() << "deep_wiped.img not built";
    image_ = Q(test::FixturePath("deep_wiped.img"));
    dir_ = test::MakeTempDir("scanfile-cli");
    file_ = dir_ + "/wiped.rvz_scn";
    test::CommandResult scan = RunQuorvel("deep-scan " + image_ + " --json --quiet --save-scan " + Q(file_));
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_NE(scan.err.find("保存扫描信息结束"), std::string::npos);
    partitions_ = PartitionNames(scan.out);
    ASSERT_GE(partitions_.size(), 4u);
  }
  std::string image_, dir_, file_;
  std::vector<std::string> partitions_;
};

// Every found partition lists the same entries and saves the same bytes
// from the file as with the scan in the same command.
TEST_F(WipedDiskFile, FoundPartitionsListAndSaveAsAfterTheScan) {
  for (const std::string& p : partitions_) {
    SCOPED_TRACE(p);
    test::CommandResult fromFile = RunQuorvel("ls " + image_ + " " + p + " --scan " + Q(file_) + " --json --quiet");
    test::CommandResult scanned = RunQuorvel("ls " + image_ + " " + p + " --deep-scan --json --quiet");
    EXPECT_EQ(fromFile.exitCode, scanned.exitCode) << fromFile.err;
    EXPECT_EQ(fromFile.out, scanned.out);
    if (scanned.exitCode != 0) continue;
    const std::string a = test::MakeTempDir("scanfile-save"), b = test::MakeTempDir("scanfile-save");
    ASSERT_EQ(RunQuorvel("save " + image_ + " " + p + " --scan " + Q(file_) + " --quiet --to " + Q(a)).exitCode, 0);
    ASSERT_EQ(RunQuorvel("save " + image_ + " " + p + " --deep-scan --quiet --to " + Q(b)).exitCode, 0);
    EXPECT_EQ(SavedTree(a), SavedTree(b));
    EXPECT_FALSE(SavedTree(a).empty());
  }
  // The disk shows them, and `scan-file show` without any disk.
  test::CommandResult disks = RunQuorvel("disks " + image_ + " --scan " + Q(file_) + " --json");
  EXPECT_EQ(PartitionNames(disks.out), partitions_);
  test::CommandResult show = RunQuorvel("scan-file show " + Q(file_) + " --json");
  EXPECT_EQ(show.exitCode, 0);
  EXPECT_EQ(PartitionNames(show.out), partitions_);
  EXPECT_NE(show.out.find("\"identity\":\"deep_wiped.img\""), std::string::npos);
  EXPECT_NE(show.out.find("\"damaged\":false"), std::string::npos);
}

// The source itself is refused before the scan and stays as it was; a
// folder that does not exist too; another disk's file changes nothing.
TEST_F(WipedDiskFile, RefusalsAndOtherDisks) {
  const std::string before = test::FileSha256(test::FixturePath("deep_wiped.img"));
  test::CommandResult onSource = RunQuorvel("deep-scan " + image_ + " --quiet --save-scan " + image_);
  EXPECT_EQ(onSource.exitCode, 1);
  EXPECT_TRUE(onSource.out.empty());
  EXPECT_NE(onSource.err.find("不能保存在源磁盘上"), std::string::npos) << onSource.err;
  EXPECT_EQ(test::FileSha256(test::FixturePath("deep_wiped.img")), before);

  if (!test::HaveFixture("carving_raw.img")) return;
  test::CommandResult other =
      RunQuorvel("ls " + Q(test::FixturePath("carving_raw.img")) + " Partition0 --scan " + Q(file_) + " --quiet");
  EXPECT_EQ(other.exitCode, 2);
  EXPECT_NE(other.err.find("警告: 不是该磁盘的信息"), std::string::npos) << other.err;
  EXPECT_EQ(RunQuorvel("ls " + image_ + " Partition0 --scan " + Q(dir_ + "/none") + " --quiet").exitCode, 2);
}

// A file cut inside a partition block: the whole partitions before the cut
// are listed, and the exit status says the file was damaged.
TEST_F(WipedDiskFile, DamagedFileIsUsedAsFarAsItIsWhole) {
  std::vector<uint8_t> bytes = test::ReadWholeFile(file_);
  std::string text(bytes.begin(), bytes.end());
  const size_t last = text.rfind("-----partition-----");
  const std::string cut = dir_ + "/cut.rvz_scn";
  std::ofstream(cut, std::ios::binary) << text.substr(0, last + 30);
  test::CommandResult ls = RunQuorvel("ls " + image_ + " " + partitions_.front() + " --scan " + Q(cut) + " --quiet");
  EXPECT_EQ(ls.exitCode, 2);
  EXPECT_FALSE(ls.out.empty());
  EXPECT_NE(ls.err.find("已损坏"), std::string::npos) << ls.err;
  test::CommandResult show = RunQuorvel("scan-file show " + Q(cut));
  EXPECT_EQ(show.exitCode, 2);
  EXPECT_NE(show.err.find("line "), std::string::npos);
  EXPECT_EQ(RunQuorvel("ls " + image_ + " " + partitions_.back() + " --scan " + Q(cut) + " --quiet").exitCode, 2);
}

// The carved files of a whole disk, kept by deep-scan: listed and saved
// from the file without a PARTITION as right after the scan.
TEST(ScanFileCli, CarvedFilesThroughTheFile) {
  if (!test::HaveFixture("carving_raw.img")) GTEST_SKIP() << "carving_raw.img not built";
  const std::string image = Q(test::FixturePath("carving_raw.img"));
  const std::string dir = test::MakeTempDir("scanfile-carved"), file = dir + "/carved.rvz_scn";
  ASSERT_EQ(RunQuorvel("deep-scan " + image + " --quiet --save-scan " + Q(file)).exitCode, 0);
  test::CommandResult fromFile = RunQuorvel("ls " + image + " --scan " + Q(file) + " --json --quiet");
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
  EXPECT_EQ(fromFile.out, RunQuorvel("ls " + image + " --deep-scan --json --quiet").out);
  EXPECT_NE(fromFile.out.find("Extra Found Files/"), std::string::npos);
  ASSERT_EQ(RunQuorvel("save " + image + " --scan " + Q(file) + " --quiet --to " + Q(dir + "/a")).exitCode, 0);
  ASSERT_EQ(RunQuorvel("save " + image + " --deep-scan --quiet --to " + Q(dir + "/b")).exitCode, 0);
  EXPECT_EQ(SavedTree(dir + "/a"), SavedTree(dir + "/b"));
  EXPECT_FALSE(SavedTree(dir + "/a").empty());
  EXPECT_EQ(RunQuorvel("ls " + image + " --scan " + Q(file) + " --lost-partitions").exitCode, 1);
}

// The group of two RAID-5 disks with the third missing, kept by format-scan
// and read in later commands: the volume lists as it does from the disks.
TEST(ScanFileCli, DynamicDiskGroupThroughTheFile) {
  if (!test::HaveFixture("ldm-all/ldm-2008r2-raid5-1.img")) GTEST_SKIP() << "ldm-all not built";
  const std::string disks = Q(test::FixturePath("ldm-all/ldm-2008r2-raid5-1.img")) + " " +
                            Q(test::FixturePath("ldm-all/ldm-2008r2-raid5-2.img"));
  const std::string file = test::MakeTempDir("scanfile-ldm") + "/group.rvz_scn";
  ASSERT_EQ(RunQuorvel("format-scan " + disks + " Volume4-01 --quiet --save-scan " + Q(file)).exitCode, 0);
  test::CommandResult plain = RunQuorvel("ls " + disks + " Volume4-01 --json --quiet");
  test::CommandResult fromFile = RunQuorvel("ls " + disks + " Volume4-01 --json --quiet --scan " + Q(file));
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
  EXPECT_EQ(fromFile.out, plain.out);
  EXPECT_EQ(RunQuorvel("disks " + disks + " --json --scan " + Q(file)).out,
            RunQuorvel("disks " + disks + " --json").out);
}

TEST(ScanFileCli, HelpTexts) {
  for (const char* command : {"ls", "save", "hex", "disks", "format-scan", "deep-scan", "lost-partitions"}) {
    test::CommandResult help = RunQuorvel(std::string(command) + " --help");
    EXPECT_NE(help.out.find("--scan FILE"), std::string::npos) << command;
  }
  test::CommandResult show = RunQuorvel("scan-file --help");
  EXPECT_NE(show.out.find("-----partition-----"), std::string::npos);
  EXPECT_EQ(RunQuorvel("scan-file list x").exitCode, 1);
}

}  // namespace
}  // namespace quorvel

// The command line around the deep scan: usage and refusals of `deep-scan`,
// `ls --deep-scan` and `save --deep-scan`, the help text, and a scan limited
// to one partition.
#include <gtest/gtest.h>

#include <regex>

#include "support/test_support.h"

namespace quorvel {
namespace {

using test::RunQuorvel;
using test::ShellQuote;

std::string Fixture(const std::string& name) { return ShellQuote(test::FixturePath(name)); }

TEST(DeepScanCli, HelpExplainsEveryOption) {
  test::CommandResult r = RunQuorvel("deep-scan --help");
  EXPECT_EQ(r.exitCode, 0);
  for (const char* option : {"SOURCE", "PARTITION", "--json", "--save-scan FILE", "--quiet", "Ctrl-C", "exit status"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  EXPECT_NE(RunQuorvel("ls --help").out.find("--deep-scan"), std::string::npos);
  EXPECT_NE(RunQuorvel("save --help").out.find("--deep-scan"), std::string::npos);
}

TEST(DeepScanCli, UsageErrorsAndRefusals) {
  if (!test::HaveFixture("carving_raw.img")) GTEST_SKIP() << "carving_raw.img not built";
  const std::string image = Fixture("carving_raw.img");
  // Nothing to scan, too many arguments, an unknown option.
  EXPECT_EQ(RunQuorvel("deep-scan").exitCode, 1);
  EXPECT_EQ(RunQuorvel("deep-scan " + image + " a b").exitCode, 1);
  EXPECT_EQ(RunQuorvel("deep-scan " + image + " --fast").exitCode, 1);
  // A scan-result file that could not be written: refused before anything is read.
  test::CommandResult save = RunQuorvel("deep-scan " + image + " --save-scan /nonexistent/x.rvz_scn --quiet");
  EXPECT_EQ(save.exitCode, 1);
  EXPECT_TRUE(save.out.empty());
  EXPECT_NE(save.err.find("--save-scan"), std::string::npos);
  // ls and save without a partition only with --deep-scan, and not with both scans.
  EXPECT_EQ(RunQuorvel("ls " + image + " --quiet").exitCode, 1);
  EXPECT_EQ(RunQuorvel("ls " + image + " 0 --deep-scan --format-scan").exitCode, 1);
  EXPECT_EQ(RunQuorvel("save " + image + " --to /tmp/never-made").exitCode, 1);
  // A partition neither listed nor found.
  test::CommandResult ls = RunQuorvel("ls " + image + " Partition9 --deep-scan --quiet");
  EXPECT_EQ(ls.exitCode, 2);
  EXPECT_NE(ls.err.find("Partition9"), std::string::npos);
  EXPECT_EQ(RunQuorvel("deep-scan " + image + " Partition0 --quiet").exitCode, 2);
  // One carved file by its path; a name no carved file has.
  const std::string out = test::MakeTempDir("deep-cli");
  test::CommandResult one = RunQuorvel("save " + image + " --deep-scan --quiet --to " + ShellQuote(out) +
                                       " --path 'Extra Found Files/Annual report 2023.doc'");
  EXPECT_EQ(one.exitCode, 0) << one.err;
  EXPECT_EQ(test::ReadWholeFile(out + "/Extra Found Files/Annual report 2023.doc").size(), 65536u);
  EXPECT_EQ(test::RunCommand("(ls " + ShellQuote(out + "/Extra Found Files") + " | wc -l)").out, "1\n");
  test::CommandResult none =
      RunQuorvel("save " + image + " --deep-scan --quiet --to " + ShellQuote(out) + " --path 'Extra Found Files/x'");
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("carving_raw.img"), std::string::npos);
  EXPECT_EQ(RunQuorvel("deep-scan /nonexistent.img --quiet").exitCode, 2);
}

// A partition's scan reads that partition only: every trace it records lies
// inside it, and the carved files of the rest of the disk are not there.
TEST(DeepScanCli, PartitionScanStaysInsideThePartition) {
  if (!test::HaveFixture("demo.img")) GTEST_SKIP() << "demo.img not built";
  test::CommandResult disks = RunQuorvel("disks " + Fixture("demo.img") + " --json");
  std::smatch m;
  static const std::regex kNtfs(R"re("name":"Partition0",.*?"start_sector":(\d+),"sector_count":(\d+))re");
  ASSERT_TRUE(std::regex_search(disks.out, m, kNtfs));
  const uint64_t start = std::stoull(m[1]), end = start + std::stoull(m[2]);

  test::CommandResult r = RunQuorvel("deep-scan " + Fixture("demo.img") + " Partition0 --json --quiet");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  static const std::regex kFragment(R"re(\{"start_sector":(\d+),"sector_count":(\d+)\})re");
  size_t fragments = 0;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), kFragment); it != std::sregex_iterator(); ++it) {
    ++fragments;
    EXPECT_GE(std::stoull((*it)[1]), start);
    EXPECT_LE(std::stoull((*it)[1]) + std::stoull((*it)[2]), end);
  }
  EXPECT_GE(fragments, 1u);
  // The whole-range NTFS partition of a partition's scan is that partition's range.
  static const std::regex kRebuilt(
      R"re("type":"NTFS","fs_kind":7,"start_sector":(\d+),"sector_count":(\d+),"role":\d+,"origin":1)re");
  bool wholeRange = false;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), kRebuilt); it != std::sregex_iterator(); ++it)
    wholeRange |= std::stoull((*it)[1]) == start && std::stoull((*it)[2]) == end - start;
  EXPECT_TRUE(wholeRange);
}

}  // namespace
}  // namespace quorvel

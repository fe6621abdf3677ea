// Input that lies, through the whole command: a scan-result file whose
// ranges reach far past the disk it names, and numbers on the command line
// that are negative or whose range runs past the largest sector number.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>

#include "cli/number_argument.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::CommandResult;
using test::FixturePath;
using test::RunCommand;
using test::RunQuorvel;
using test::ShellQuote;

std::string Q(const std::string& path) { return ShellQuote(path); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Catches: an MFT fragment of length -1 (read as 4294967295 sectors) swept
// sector by sector on a 48 MiB image (minutes; the run is cut at 60 s), and
// `scan-file show` calling such a file whole when the disk is at hand. The
// range is cut to the disk when loaded and the file reported damaged with
// the line.
TEST(HostileInputCli, ScanFileRangesAreCutToTheDisk) {
  if (!test::HaveFixture("ntfs.img") || !test::HaveFixture("fat16.img")) GTEST_SKIP() << "fixtures not built";
  const std::string image = FixturePath("ntfs.img");
  const std::string dir = test::MakeTempDir("hostile-scan");
  const std::string whole = dir + "/ntfs.rvz_scn", bad = dir + "/bad.rvz_scn";
  CommandResult r = RunQuorvel("deep-scan " + Q(image) + " --quiet --save-scan " + Q(whole));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Line 4 is the first MFT fragment (no directory sectors on NTFS): its
  // length becomes -1.
  std::ifstream in(whole, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), {}};
  const size_t line4 = text.find("\r\n32,", text.find("\r\n0\r\n"));
  ASSERT_NE(line4, std::string::npos) << text.substr(0, 60);
  const size_t comma = text.find(',', line4), end = text.find('\r', line4 + 2);
  text.replace(comma + 1, end - comma - 1, "-1");
  std::ofstream(bad, std::ios::binary) << text;

  const auto start = std::chrono::steady_clock::now();
  r = RunCommand("timeout 60 " + Q(QUORVEL_CLI) + " ls " + Q(image) + " 0 --scan " + Q(bad) + " --quiet");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "line 4: MFT fragment 32,4294967295 reaches past the disk's end (98304 sectors)")) << r.err;
  EXPECT_TRUE(Has(r.out, "根目录/"));

  r = RunQuorvel("scan-file show " + Q(bad) + " " + Q(image) + " --json");
  EXPECT_EQ(r.exitCode, 2);
  for (const char* part : {"\"damaged\":true", "\"checked_against\":\"ntfs.img\"", "\"clipped\":1", "\"line\":4",
                           "{\"start_sector\":32,\"sector_count\":98272}"})
    EXPECT_TRUE(Has(r.out, part)) << part << "\n" << r.out;
  r = RunQuorvel("scan-file show " + Q(bad) + " " + Q(image));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(Has(r.err, "1 sector range(s) reach past the end of ntfs.img")) << r.err;

  // Without the disk its size is unknown: the file is whole, and says how
  // far its ranges reach.
  r = RunQuorvel("scan-file show " + Q(bad) + " --json");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "\"sectors_reached\":4294967327")) << r.out;
  // Another disk's file is not read as that disk's.
  r = RunQuorvel("scan-file show " + Q(bad) + " " + Q(FixturePath("fat16.img")));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(Has(r.err, "警告: 不是该磁盘的信息")) << r.err;
  r = RunQuorvel("scan-file show " + Q(whole) + " " + Q(image));
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

// Catches: "-1" taken as 2^64 - 1, "010" as eight, a range whose end wraps
// past 2^64 reported as "sectors 18446744073709551615..0", and a count
// past the limit accepted; each refusal names the range that is valid.
TEST(HostileInputCli, NumbersAreWholeAndRangesDoNotWrap) {
  if (!test::HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  const std::string image = Q(FixturePath("fat16.img"));
  const std::string dir = test::MakeTempDir("hostile-numbers");
  const struct {
    std::string args;
    int exit;
    const char* says;
  } cases[] = {
      {"hex " + image + " --sectors 18446744073709551615 2", 1, "START is at most 18446744073709551614 for COUNT 2"},
      {"hex " + image + " --sectors -1 1", 1, "START takes a whole number from 0 to 18446744073709551615"},
      {"hex " + image + " --sectors 1 -1", 1, "COUNT takes a whole number from 0 to 1228800"},
      {"hex " + image + " --sectors 1 1228801", 1, "COUNT takes a whole number from 0 to 1228800"},
      {"hex " + image + " --sectors 18446744073709551616 1", 1, "not \"18446744073709551616\""},
      {"hex " + image + " --sectors ' 5' 1", 1, "not \" 5\""},
      {"hex " + image + " --sectors 65535 2", 2, "START is 0 to 65535 and START + COUNT at most 65536"},
      {"hex " + image + " --sectors 18446744073709551615 1", 2, "START is 0 to 65535"},
      {"cat " + image + " 0 根目录/ONE.BIN --id -1", 1, "--id takes a whole number"},
      {"image " + image + " --to-file " + Q(dir + "/a.img") + " --start -1", 1, "--start takes a whole number"},
      {"image " + image + " --to-file " + Q(dir + "/a.img") + " --count 0", 1, "--count takes a whole number from 1"},
      {"lost-partitions " + image + " --tracks 256 --quiet", 1, "from 1 to 255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    CommandResult r = RunQuorvel(c.args);
    EXPECT_EQ(r.exitCode, c.exit) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    EXPECT_FALSE(Has(r.err, "..0 ")) << r.err;
  }
  // Decimal with leading zeros, hexadecimal after 0x: the same sector.
  const std::string expected = RunCommand("dd if=" + image + " bs=512 skip=16 count=1 status=none | sha256sum").out;
  for (const char* start : {"16", "016", "0x10", "0X10"}) {
    CommandResult r = RunCommand(Q(QUORVEL_CLI) + " hex " + image + " --sectors " + start + " 1 --raw | sha256sum");
    EXPECT_EQ(r.out, expected) << start;
  }
  EXPECT_FALSE(std::ifstream(dir + "/a.img").good());
}

TEST(NumberArgument, Table) {
  const struct {
    const char* text;
    uint64_t largest;
    bool ok;
    uint64_t value;
  } cases[] = {
      {"0", UINT64_MAX, true, 0},
      {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, false, 0},
      {"0xFFFFFFFFFFFFFFFF", UINT64_MAX, true, UINT64_MAX},
      {"0x10000000000000000", UINT64_MAX, false, 0},
      {"255", 255, true, 255},
      {"256", 255, false, 0},
      {"9", 5, false, 0},
      {"0x", UINT64_MAX, false, 0},
      {"", UINT64_MAX, false, 0},
      {"-0", UINT64_MAX, false, 0},
      {"+1", UINT64_MAX, false, 0},
      {"1 ", UINT64_MAX, false, 0},
      {"0x1g", UINT64_MAX, false, 0},
      {"1a", UINT64_MAX, false, 0},
  };
  for (const auto& c : cases) {
    uint64_t value = 0;
    EXPECT_EQ(cli::ParseNumberArgument(c.text, value, c.largest), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace quorvel

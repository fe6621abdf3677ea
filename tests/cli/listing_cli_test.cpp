// What `ls`, `hex` and `disks` show and refuse: entries without a time, the
// time zone of the times shown, names with control characters, entries whose
// data could not be read, stopped runs, bytes that do not exist, and sources
// that are not disks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "faulty_mount.h"
#include "recover/ls_json.h"
#include "support/interrupted_run.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::CommandResult;
using test::FixturePath;
using test::RunCommand;
using test::RunQuorvel;
using test::ShellQuote;

std::string Fixture(const std::string& name) { return ShellQuote(FixturePath(name)); }

// Catches: "1980-00-00 00:00:00" for FAT roots and "1601-01-01 08:00:00" for
// folders without a time; JSON documents that do not say which time zone
// their times are in.
TEST(ListingCli, EntriesWithoutATimeShowNoneAndTheZoneIsNamed) {
  if (!test::HaveFixture("demo.img")) GTEST_SKIP() << "demo.img not built";
  struct Case {
    const char* partition;
    const char* zone;
  } cases[] = {{"Partition0", "+08:00"}, {"Partition1", "local"}, {"Partition2", "local"}};
  for (const Case& c : cases) {
    CommandResult text = RunQuorvel("ls " + Fixture("demo.img") + " " + c.partition + " --quiet");
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.find("1980-00-00"), std::string::npos) << c.partition;
    EXPECT_EQ(text.out.find("1601-01-01"), std::string::npos) << c.partition;
    CommandResult json = RunQuorvel("ls " + Fixture("demo.img") + " " + c.partition + " --json --quiet");
    test::LsListing listing = test::ParseLsJson(json.out);
    ASSERT_TRUE(listing.ok) << json.out;
    EXPECT_EQ(listing.timeZone, c.zone);
    EXPECT_TRUE(listing.complete);
    EXPECT_NE(json.out.find("\"path\":\"根目录\",\"name\":\"根目录\""), std::string::npos);
    size_t dated = 0;
    for (const test::LsEntry& e : listing.entries) {
      // A FAT root and the lost folder have no time (an NTFS root has its record's).
      if ((e.path == "根目录" && std::string(c.zone) == "local") || e.path == "零散目录") {
        EXPECT_EQ(e.created, "") << c.partition << " " << e.path;
      }
      if (!e.created.empty()) {
        ++dated;
        EXPECT_EQ(e.created.size(), 19u) << e.created;
        EXPECT_NE(e.created.substr(0, 4), "1980");
      }
    }
    EXPECT_GT(dated, 3u) << c.partition << ": files keep their times";
  }
}

// Catches: a hostile name sending its control characters (escape sequences)
// to the user's terminal in the table.
TEST(ListingCli, ControlCharactersInNamesAreShownEscaped) {
  for (const auto& [image, raw, shown] :
       {std::tuple<const char*, const char*, const char*>{"save_names_fat16.img", "bel\x07x.txt", "bel\\x07x.txt"},
        {"save_names_ntfs.img",
         "a\x01"
         "b",
         "a\\x01b"}}) {
    if (!test::HaveFixture(image)) continue;
    CommandResult r = RunQuorvel("ls " + Fixture(image) + " 0 --quiet");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find(raw), std::string::npos) << image << ": the raw name reached the terminal";
    EXPECT_NE(r.out.find(shown), std::string::npos) << image;
    for (char c : r.out) EXPECT_FALSE(c != '\n' && static_cast<unsigned char>(c) < 0x20) << image;
  }
}

// Catches: a volume label with an escape sequence printed raw by the disk table.
TEST(ListingCli, ControlCharactersInLabelsAreShownEscaped) {
  if (!test::HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  std::vector<uint8_t> image = test::ReadWholeFile(FixturePath("fat16.img"));
  const std::string label = "QVFAT16";
  const std::string hostile = "Q\x1b[2JX";
  // The label the table shows is the root folder's volume entry.
  auto at = std::search(image.begin() + 512, image.end(), label.begin(), label.end());
  ASSERT_NE(at, image.end());
  std::copy(hostile.begin(), hostile.end(), at);
  const std::string dir = test::MakeTempDir("label");
  std::ofstream(dir + "/label.img", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  CommandResult r = RunQuorvel("disks " + ShellQuote(dir + "/label.img"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "the escape reached the terminal";
  EXPECT_NE(r.out.find("Q\\x1b[2JX"), std::string::npos) << r.out;
}

// Catches: folders whose directory data lies past the end of a cut image
// listed as empty folders without a word; the part of a partition past the
// source's end passed over in silence.
TEST(ListingCli, UnreadableFoldersAndPartsAreSaidToBe) {
  if (!test::HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  const std::string dir = test::MakeTempDir("ls-cut");
  const std::string cut = dir + "/cut.img";
  // The root folder (sectors 132-163) is cut in the middle.
  RunCommand("(head -c " + std::to_string(150 * 512) + " " + Fixture("fat16.img") + " > " + ShellQuote(cut) + ")");
  CommandResult text = RunQuorvel("ls " + ShellQuote(cut) + " 0 --quiet");
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("根目录/  [unreadable]"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("could not be read in full"), std::string::npos);
  EXPECT_NE(text.err.find("the source ends after 150 of them"), std::string::npos) << text.err;
  test::LsListing listing = test::ParseLsJson(RunQuorvel("ls " + ShellQuote(cut) + " 0 --json --quiet").out);
  ASSERT_TRUE(listing.ok);
  ASSERT_FALSE(listing.entries.empty());
  EXPECT_TRUE(listing.entries[0].unreadable);
  // The whole image: nothing marked.
  CommandResult whole = RunQuorvel("ls " + Fixture("fat16.img") + " 0 --quiet");
  EXPECT_EQ(whole.out.find("[unreadable]"), std::string::npos);
  EXPECT_EQ(whole.err, "");
}

// Catches: a stopped listing printed without saying it is incomplete, and the
// stop said twice when a command runs two steps (format scan, then rebuild).
TEST(ListingCli, StoppedListingIsMarkedIncompleteAndSaidOnce) {
  const std::string why = test::FaultyMount::Unavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  if (!test::HaveFixture("format_fat32.img")) GTEST_SKIP() << "format_fat32.img not built";
  const std::string dir = test::MakeTempDir("ls-stop");
  test::FaultyMount mount(FixturePath("format_fat32.img"), dir + "/mnt", {}, 20);  // 20 ms a read
  ASSERT_TRUE(mount.ok()) << mount.error();
  const std::string command = ShellQuote(QUORVEL_CLI) + " ls " + ShellQuote(mount.path()) +
                              " 0 --format-scan --json --quiet >" + ShellQuote(dir + "/out") + " 2>" +
                              ShellQuote(dir + "/err");
  const auto start = std::chrono::steady_clock::now();
  const int status = test::RunThenInterrupt(
      command, [&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(600); });
  EXPECT_EQ(status, 3);
  const std::string out = test::FileText(dir + "/out"), err = test::FileText(dir + "/err");
  test::LsListing listing = test::ParseLsJson(out);
  ASSERT_TRUE(listing.ok) << out;
  EXPECT_FALSE(listing.complete);
  EXPECT_EQ(err, "quorvel: stopped; showing what was found so far\n");
}

// Catches: sectors past the end of the source shown as zeros with exit 0.
TEST(ListingCli, HexOfSectorsThatDoNotExistIsAnError) {
  if (!test::HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  CommandResult past = RunQuorvel("hex " + Fixture("fat16.img") + " --sectors 999999999 1");
  EXPECT_EQ(past.exitCode, 2);
  EXPECT_EQ(past.out, "");
  EXPECT_NE(past.err.find("65536 sectors, 33554432 bytes"), std::string::npos) << past.err;
  EXPECT_EQ(RunQuorvel("hex " + Fixture("fat16.img") + " --sectors 65535 2").exitCode, 2);
  CommandResult last = RunQuorvel("hex " + Fixture("fat16.img") + " --sectors 65535 1 --raw");
  EXPECT_EQ(last.exitCode, 0);
  EXPECT_EQ(last.out.size(), 512u);
}

// Catches: a folder accepted as a 4 KB disk, and a FIFO blocking the open for
// ever (with the first Ctrl-C swallowed).
TEST(ListingCli, SourcesThatAreNotDisksAreRefused) {
  const std::string dir = test::MakeTempDir("not-disk");
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const auto& [path, kind] : {std::pair<std::string, std::string>{dir, "a folder"}, {fifo, "a FIFO"}}) {
    for (const std::string& command : {"disks " + ShellQuote(path), "ls " + ShellQuote(path) + " 0",
                                       "save " + ShellQuote(path) + " 0 --to " + ShellQuote(dir + "/out")}) {
      CommandResult r = RunCommand("timeout 20 " + ShellQuote(QUORVEL_CLI) + " " + command);
      EXPECT_EQ(r.exitCode, 2) << command;
      EXPECT_NE(r.err.find("is " + kind + ", not a disk or an image file"), std::string::npos)
          << command << ": " << r.err;
    }
  }
}

}  // namespace
}  // namespace quorvel

// What `quorvel save` reports when not everything could be saved: files whose
// data could not all be read (an image cut short, failing sectors), targets
// that could not be written, a stop. Checked against what The Sleuth Kit can
// read of the same truncated images, and against known contents.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "faulty_mount.h"
#include "support/interrupted_run.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::CommandResult;
using test::FixturePath;
using test::RunCommand;
using test::RunQuorvel;
using test::ShellQuote;

using FileKey = std::pair<uint64_t, uint64_t>;  // id (first cluster / record number), size

// The first `bytes` bytes of a fixture, as a cut image.
std::string CutImage(const std::string& fixture, uint64_t bytes, const std::string& dir) {
  const std::string cut = dir + "/cut-" + fixture;
  RunCommand("(head -c " + std::to_string(bytes) + " " + ShellQuote(FixturePath(fixture)) + " > " + ShellQuote(cut) +
             ")");
  return cut;
}

// (id, size) of every file `quorvel ls --json` lists (carved files aside).
std::set<FileKey> ListedFiles(const std::string& image, const std::string& partition) {
  CommandResult r = RunQuorvel("ls " + ShellQuote(image) + " " + partition + " --json --quiet");
  std::set<FileKey> files;
  static const std::regex kEntry(R"re("path":"([^"]*)"[^{}]*?"state":([24]),[^{}]*?"size":(\d+),"id":(\d+))re");
  for (std::sregex_iterator it(r.out.begin(), r.out.end(), kEntry), end; it != end; ++it)
    if ((*it)[1].str().rfind("Extra Found Files", 0) != 0) files.insert({std::stoull((*it)[4]), std::stoull((*it)[3])});
  return files;
}

// (id, size) of every file the save --json document lists as incomplete.
std::set<FileKey> IncompleteFiles(const std::string& json) {
  std::set<FileKey> files;
  const size_t at = json.find("\"incomplete\":[");
  if (at == std::string::npos) return {{UINT64_MAX, 0}};
  const std::string list = json.substr(at, json.find(']', at) - at);
  static const std::regex kFile(R"re("id":(\d+),"size":(\d+))re");
  for (std::sregex_iterator it(list.begin(), list.end(), kFile), end; it != end; ++it)
    files.insert({std::stoull((*it)[1]), std::stoull((*it)[2])});
  return files;
}

// What The Sleuth Kit reads of each file: (id, size) -> read in full.
std::map<FileKey, bool> TskReads(const std::string& image, const std::set<FileKey>& listed, bool byInode) {
  std::string command = "python3 " +
                        ShellQuote(std::string(QUORVEL_SOURCE_DIR) + "/tests/save/oracles/tsk_file_reads.py") + " " +
                        ShellQuote(image) + " 0";
  if (byInode)
    for (const FileKey& key : listed) command += " " + std::to_string(key.first);
  CommandResult r = RunCommand(command);
  std::map<FileKey, bool> reads;
  std::istringstream lines(r.out);
  uint64_t id, size;
  std::string state;
  while (lines >> id >> size >> state) reads[{id, size}] = state == "ok";
  return reads;
}

// Catches: data past the end of a cut image saved as zeros and reported as
// saved (exit 0): the save must name exactly the files an independent reader
// cannot read in full, and say so in its exit status.
TEST(SaveReport, TruncatedImageNamesExactlyTheFilesTheSleuthKitCannotRead) {
  struct Case {
    const char* fixture;
    uint64_t cutBytes;
    bool ntfs;
  } cases[] = {
      {"fat16.img", 740 * 512, false},              // the data area cut inside the fixture's files
      {"save_spread_fat32.img", 10u << 20, false},  // FAT32, big files across the cut
      {"ntfs.img", 28u << 20, true},                // MFT records and data beyond the cut
  };
  for (const Case& c : cases) {
    if (!test::HaveFixture(c.fixture)) continue;
    const std::string dir = test::MakeTempDir("trunc");
    const std::string image = CutImage(c.fixture, c.cutBytes, dir);
    CommandResult save =
        RunQuorvel("save " + ShellQuote(image) + " 0 --to " + ShellQuote(dir + "/out") + " --json --quiet");
    EXPECT_EQ(save.exitCode, 4) << c.fixture << ": " << save.err;
    const std::set<FileKey> incomplete = IncompleteFiles(save.out);
    const std::set<FileKey> listed = ListedFiles(image, "0");
    // NTFS: TSK cannot walk the folders past the cut, but reads records by number.
    const std::map<FileKey, bool> tsk = TskReads(image, listed, c.ntfs);
    size_t compared = 0, short_ = 0;
    for (const auto& [key, whole] : tsk) {
      if (!listed.count(key)) continue;
      ++compared;
      short_ += !whole;
      EXPECT_EQ(incomplete.count(key) == 0, whole)
          << c.fixture << ": file " << key.first << " (" << key.second << " bytes): TSK "
          << (whole ? "reads" : "cannot read") << " it in full";
    }
    EXPECT_GT(compared, 10u) << c.fixture;
    EXPECT_GT(short_, 0u) << c.fixture << ": the cut must reach some files";
    for (const FileKey& key : incomplete)
      EXPECT_TRUE(listed.count(key)) << c.fixture << ": incomplete file " << key.first << " is not listed";
  }
}

// The summary in words: counts, each incomplete file with its bytes missing.
TEST(SaveReport, SummaryCountsAndNamesIncompleteFiles) {
  if (!test::HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  const std::string dir = test::MakeTempDir("summary");
  const std::string image = CutImage("fat16.img", 740 * 512, dir);
  CommandResult r = RunQuorvel("save " + ShellQuote(image) + " 0 --to " + ShellQuote(dir + "/out") + " --quiet");
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_NE(r.out.find("incomplete: 3)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("fragmented file.bin: 18449 of 18449 bytes missing"), std::string::npos) << r.out;
  // The whole image saves whole: exit 0.
  CommandResult whole =
      RunQuorvel("save " + ShellQuote(FixturePath("fat16.img")) + " 0 --to " + ShellQuote(dir + "/whole") + " --quiet");
  EXPECT_EQ(whole.exitCode, 0) << whole.out << whole.err;
  EXPECT_NE(whole.out.find("incomplete: 0)"), std::string::npos) << whole.out;
}

// Catches: a full target (writing failed) and a target that cannot be
// created exiting 0, partial files left under their real names, the system's
// reason not shown.
TEST(SaveReport, UnwritableTargetsExitFourWithTheSystemsReason) {
  if (!test::HaveFixture("fat16.img")) GTEST_SKIP() << "fat16.img not built";
  const std::string image = ShellQuote(FixturePath("fat16.img"));
  const std::string dir = test::MakeTempDir("unwritable");

  // A file-size limit of 8 KiB stands for a full target: bigger files fail.
  const std::string full = dir + "/full";
  CommandResult r = RunCommand("trap '' XFSZ; ulimit -f 8; " + ShellQuote(QUORVEL_CLI) + " save " + image + " 0 --to " +
                               ShellQuote(full) + " --json");
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_NE(r.out.find("\"reason\":\"write_failed\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(std::strerror(EFBIG)), std::string::npos) << r.out;
  // No file that failed stays behind: whatever is there is whole (below the limit).
  // Grouped: RunCommand's redirections then apply to the whole pipeline.
  CommandResult sizes = RunCommand("(find " + ShellQuote(full) + " -type f -size +8k | wc -l)");
  EXPECT_EQ(sizes.out, "0\n");
  CommandResult written = RunCommand("(find " + ShellQuote(full) + " -type f | wc -l)");
  EXPECT_NE(written.out, "0\n") << "the small files are saved";

  // A file standing where a folder must go: the files below it cannot be created.
  const std::string blocked = dir + "/blocked";
  mkdir(blocked.c_str(), 0755);
  std::ofstream(blocked + "/根目录") << "in the way";
  r = RunQuorvel("save " + image + " 0 --to " + ShellQuote(blocked));
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_NE(r.out.find("target could not be created: "), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(std::strerror(ENOTDIR)), std::string::npos) << r.err;
}

// Catches: a deleted FAT entry claiming 4 GiB writing 4 GiB of zeros from a
// 128 KiB image (and the space check refusing, or letting such entries fill
// the target).
TEST(SaveReport, EntryClaimingMoreThanTheVolumeWritesWhatExists) {
  // A whole-disk FAT16 of 256 sectors: boot, two 1-sector FATs, a 32-sector
  // root holding one deleted file of 0xFFFFFFFF bytes at cluster 2.
  std::vector<uint8_t> image(256 * 512, 0);
  auto put16 = [&](size_t at, uint16_t v) {
    image[at] = static_cast<uint8_t>(v);
    image[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  const uint8_t jump[3] = {0xEB, 0x3C, 0x90};
  std::copy(jump, jump + 3, image.begin());
  put16(0x0B, 512);
  image[0x0D] = 1;
  put16(0x0E, 1);
  image[0x10] = 2;
  put16(0x11, 512);
  put16(0x13, 256);
  image[0x15] = 0xF8;
  put16(0x16, 1);
  std::copy_n("FAT16   ", 8, image.begin() + 0x36);
  image[510] = 0x55;
  image[511] = 0xAA;
  for (size_t fat : {512u, 1024u}) put16(fat, 0xFFF8), put16(fat + 2, 0xFFFF);
  uint8_t* entry = image.data() + 3 * 512;
  std::copy_n(
      "\xE5"
      "IG     BIN",
      11, entry);
  entry[11] = 0x20;
  put16(3 * 512 + 26, 2);
  for (int i = 0; i < 4; ++i) entry[28 + i] = 0xFF;
  for (size_t s = 35; s < 256; ++s) std::fill_n(image.begin() + s * 512, 512, static_cast<uint8_t>(s));
  const std::string dir = test::MakeTempDir("claim");
  std::ofstream(dir + "/claim.img", std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());

  const auto start = std::chrono::steady_clock::now();
  CommandResult r = RunQuorvel("save " + ShellQuote(dir + "/claim.img") + " 0 --deleted --to " +
                               ShellQuote(dir + "/out") + " --json --quiet");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_LT(seconds, 30.0);
  struct stat st {};
  ASSERT_EQ(stat((dir + "/out/根目录/$IG.BIN").c_str(), &st), 0) << r.out;
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), 221u * 512) << "the data area from cluster 2 on";
  EXPECT_NE(r.out.find("\"missing\":" + std::to_string(0xFFFFFFFFull - 221 * 512)), std::string::npos) << r.out;
}

// Catches: unreadable sectors saved as zeros in silence; the readable sectors
// after a bad one lost with the block it was read in. The image is served by
// a FUSE file system whose listed sectors fail with EIO.
TEST(SaveReport, FailingSectorsAreZeroGapsNamedInTheReport) {
  const std::string why = test::FaultyMount::Unavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  if (!test::HaveFixture("save_spread_fat32.img")) GTEST_SKIP() << "save_spread_fat32.img not built";
  const std::string image = FixturePath("save_spread_fat32.img");
  // part2.bin's first cluster, from the listing: one bad sector inside it.
  CommandResult ls = RunQuorvel("ls " + ShellQuote(image) + " 0 --json --quiet");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(ls.out, m, std::regex(R"re("name":"part2.bin",[^{}]*?"id":(\d+))re"))) << ls.out;
  const uint64_t cluster = std::stoull(m[1]);
  CommandResult geometry = RunCommand("(fsstat " + ShellQuote(image) + " | grep 'Cluster Area')");
  std::smatch area;
  ASSERT_TRUE(std::regex_search(geometry.out, area, std::regex(R"(Cluster Area: (\d+))")));
  const uint64_t firstBad = std::stoull(area[1]) + (cluster - 2) * 2 + 101;  // 1 KiB clusters
  const std::string dir = test::MakeTempDir("faulty");
  test::FaultyMount mount(image, dir + "/mnt", {{firstBad, 3}});
  ASSERT_TRUE(mount.ok()) << mount.error();
  CommandResult r =
      RunQuorvel("save " + ShellQuote(mount.path()) + " 0 --to " + ShellQuote(dir + "/out") + " --json --quiet");
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_EQ(IncompleteFiles(r.out), (std::set<FileKey>{{cluster, 500777}})) << r.out;
  EXPECT_NE(r.out.find("\"missing\":1536,\"reason\":\"source_unreadable\""), std::string::npos) << r.out;
  // Everything but the three sectors is the file's own data, in place.
  RunCommand("(icat " + ShellQuote(image) + " $(ifind -n part2.bin " + ShellQuote(image) + ") > " +
             ShellQuote(dir + "/part2.icat") + ")");
  std::vector<uint8_t> saved = test::ReadWholeFile(dir + "/out/根目录/part2.bin");
  std::vector<uint8_t> real = test::ReadWholeFile(dir + "/part2.icat");
  ASSERT_EQ(saved.size(), real.size());
  for (size_t i = 0; i < real.size(); ++i) {
    const bool bad = i >= 101 * 512 && i < 104 * 512;
    if (bad ? saved[i] != 0 : saved[i] != real[i]) {
      ADD_FAILURE() << "byte " << i << (bad ? " should be 0" : " differs");
      break;
    }
  }
}

// Catches: Ctrl-C leaving a truncated file under its real name and the
// summary blaming the disk; the stop message said more than once.
TEST(SaveReport, InterruptRemovesTheFileBeingWritten) {
  const std::string why = test::FaultyMount::Unavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  if (!test::HaveFixture("save_spread_fat32.img")) GTEST_SKIP() << "save_spread_fat32.img not built";
  const std::string dir = test::MakeTempDir("interrupt");
  // Slow reads: every read request takes 20 ms, so the save is mid-file when stopped.
  test::FaultyMount mount(FixturePath("save_spread_fat32.img"), dir + "/mnt", {}, 20);
  ASSERT_TRUE(mount.ok()) << mount.error();
  const std::string out = dir + "/out";
  const std::string command = ShellQuote(QUORVEL_CLI) + " save " + ShellQuote(mount.path()) + " 0 --to " +
                              ShellQuote(out) + " --json --quiet >" + ShellQuote(dir + "/stdout") + " 2>" +
                              ShellQuote(dir + "/stderr");
  // Wait until the first file is being written, then press Ctrl-C.
  const int status = test::RunThenInterrupt(
      command, [&] { return RunCommand("(find " + ShellQuote(out) + " -type f | grep -q .)").exitCode == 0; });
  EXPECT_EQ(status, 3);
  const std::string json = test::FileText(dir + "/stdout"), err = test::FileText(dir + "/stderr");
  EXPECT_NE(json.find("\"complete\":false"), std::string::npos) << json;
  EXPECT_NE(json.find("\"files_incomplete\":0"), std::string::npos) << json;
  size_t said = 0;
  for (size_t at = err.find("stopped"); at != std::string::npos; at = err.find("stopped", at + 1)) ++said;
  EXPECT_EQ(said, 1u) << err;
  // What stayed is whole: each file has the size the listing gives it.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(json, m, std::regex(R"re("files_written":(\d+))re")));
  CommandResult files = RunCommand("(cd " + ShellQuote(out) + " && find . -type f -printf '%s %f\\n' | sort)");
  std::istringstream lines(files.out);
  uint64_t size;
  std::string name;
  size_t count = 0;
  while (lines >> size >> name) {
    ++count;
    const int n = std::stoi(name.substr(4));  // partN.bin holds N * 250000 + 777 bytes
    EXPECT_EQ(size, static_cast<uint64_t>(n) * 250000 + 777) << name << " stayed partial";
  }
  EXPECT_EQ(std::to_string(count), m[1].str());
}

}  // namespace
}  // namespace quorvel

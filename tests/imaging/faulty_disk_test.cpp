// `quorvel image` on disks with real unreadable sectors: an image file served
// through faulty_image_fs (FUSE), whose listed sectors fail with EIO, and a
// read-only loop device over it. Every readable sector must arrive intact,
// every bad one listed once and filled with 0x20, and the source untouched.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "faulty_mount.h"
#include "imaging/mapfile.h"
#include "support/test_support.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

constexpr uint64_t kMiB = 0x100000;

// Every sector carries its own number, so a sector at the wrong place shows.
void WriteImage(const std::string& path, uint64_t size, uint64_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  for (uint64_t i = 0; i < size; ++i)
    bytes[i] = static_cast<uint8_t>((i / 512) * 31 + (i % 512) * 7 + seed + (i / 512 >> 8));
  for (uint64_t s = 0; s < size / 512; ++s) std::memcpy(&bytes[s * 512], &s, sizeof s);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// An MBR with one partition of type 0x07 at sector `start`.
void WriteMbr(const std::string& path, uint32_t start, uint32_t count) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  uint8_t entry[16] = {0x00, 0, 0, 0, 0x07, 0, 0, 0};
  std::memcpy(entry + 8, &start, 4);
  std::memcpy(entry + 12, &count, 4);
  f.seekp(446);
  f.write(reinterpret_cast<const char*>(entry), 16);
  const uint8_t signature[2] = {0x55, 0xAA};
  f.seekp(510);
  f.write(reinterpret_cast<const char*>(signature), 2);
}

std::set<uint64_t> Sectors(const std::vector<BadRun>& runs) {
  std::set<uint64_t> sectors;
  for (const BadRun& r : runs)
    for (uint64_t i = 0; i < r.count; ++i) sectors.insert(r.first + i);
  return sectors;
}

// The numbers of "bad_sectors":[...] in the JSON output.
std::vector<uint64_t> JsonBadSectors(const std::string& json) {
  std::vector<uint64_t> numbers;
  size_t at = json.find("\"bad_sectors\":[");
  if (at == std::string::npos) return {UINT64_MAX};
  std::istringstream in(json.substr(at + 15, json.find(']', at) - at - 15));
  std::string number;
  while (std::getline(in, number, ','))
    if (!number.empty()) numbers.push_back(std::stoull(number));
  return numbers;
}

uint64_t JsonNumber(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\":");
  return at == std::string::npos ? UINT64_MAX : std::stoull(json.substr(at + key.size() + 3));
}

// target (from targetOffset on) holds the source's sectors [first, first +
// count), with bad ones as 0x20.
void ExpectCopy(const std::string& sourcePath, uint64_t first, uint64_t count, const std::string& targetPath,
                uint64_t targetOffset, const std::set<uint64_t>& bad) {
  std::vector<uint8_t> source = ReadWholeFile(sourcePath);
  std::vector<uint8_t> target = ReadWholeFile(targetPath);
  ASSERT_GE(target.size(), targetOffset + count * 512);
  const std::vector<uint8_t> filler(512, 0x20);
  for (uint64_t s = 0; s < count; ++s) {
    const uint8_t* got = target.data() + targetOffset + s * 512;
    if (bad.count(first + s))
      ASSERT_EQ(0, std::memcmp(got, filler.data(), 512)) << "bad sector " << first + s << " not filled";
    else
      ASSERT_EQ(0, std::memcmp(got, source.data() + (first + s) * 512, 512)) << "sector " << first + s << " differs";
  }
}

std::string Quote(const std::string& s) { return ShellQuote(s); }

// The block lines of a mapfile (status line and comments dropped).
std::string MapBlocks(const std::string& path) {
  std::ifstream in(path);
  std::string line, blocks;
  bool status = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (!status) {
      status = true;
      continue;
    }
    std::istringstream words(line);
    std::string pos, size, st;
    words >> pos >> size >> st;
    blocks += std::to_string(std::stoull(pos, nullptr, 0)) + " " + std::to_string(std::stoull(size, nullptr, 0)) + " " +
              st + "\n";
  }
  return blocks;
}

size_t LineCount(const std::string& path) {
  std::ifstream in(path);
  size_t lines = 0;
  std::string line;
  while (std::getline(in, line)) ++lines;
  return lines;
}

struct LoggedRead {
  uint64_t offset = 0, size = 0;
  long result = 0;
  bool operator==(const LoggedRead& o) const { return offset == o.offset && size == o.size && result == o.result; }
};

// The faulty file system's log: one "OFFSET SIZE RESULT" line per request.
std::vector<LoggedRead> ReadLog(const std::string& path) {
  std::vector<LoggedRead> reads;
  std::ifstream in(path);
  LoggedRead r;
  while (in >> r.offset >> r.size >> r.result) reads.push_back(r);
  return reads;
}

// Waits (up to 30 s) for a logged read from index `from` on that matches.
bool WaitForRead(const std::string& log, const std::function<bool(const LoggedRead&)>& match, size_t from = 0) {
  for (int i = 0; i < 3000; ++i) {
    std::vector<LoggedRead> reads = ReadLog(log);
    for (size_t k = from; k < reads.size(); ++k)
      if (match(reads[k])) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The reads from `from` on that opening the disk made (a recognition of its
// partition table from its first sectors) before a rescue begins.
size_t RecognitionReads(const std::vector<LoggedRead>& reads, size_t from) {
  size_t n = 0;
  while (from + n < reads.size() && reads[from + n].offset == 0 && reads[from + n].size == 2048) ++n;
  return n;
}

// Starts a program (found on PATH) with its output to a file; its process id.
pid_t Spawn(const std::vector<std::string>& words, const std::string& stdoutPath) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  std::freopen(stdoutPath.c_str(), "w", stdout);
  std::freopen("/dev/null", "w", stderr);
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

// The exit status of a spawned program; -1 when a signal ended it.
int ExitStatus(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FileText(const std::string& path) {
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// The mapfile's status line: current position and phase.
std::pair<uint64_t, char> MapStatusLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string position, status;
    words >> position >> status;
    return {std::stoull(position, nullptr, 0), status.empty() ? '\0' : status[0]};
  }
  return {0, '\0'};
}

class FaultyDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = FaultyMount::Unavailable();
    if (!why.empty() && FaultyMount::Required()) FAIL() << why;
    if (!why.empty()) GTEST_SKIP() << why;
    dir_ = MakeTempDir("faulty");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    mount_.reset();
    ExpectSourceUnchanged();
    if (!dir_.empty()) RunCommand("rm -rf " + Quote(dir_));
  }

  // The source is never written: its bytes are what they were.
  void ExpectSourceUnchanged() {
    if (!image_.empty()) {
      EXPECT_EQ(FileSha256(image_), imageHash_) << "the source image changed";
    }
  }

  // Builds the source image and mounts it with the bad runs.
  std::string Mount(uint64_t size, const std::vector<BadRun>& bad, int delayMs = 0, bool mbr = false) {
    mount_.reset();
    ExpectSourceUnchanged();
    image_ = dir_ + "/source.img";
    WriteImage(image_, size);
    if (mbr) WriteMbr(image_, 2048, static_cast<uint32_t>(size / 512 - 2048));
    imageHash_ = FileSha256(image_);
    log_ = dir_ + "/reads.log";
    mount_ = std::make_unique<FaultyMount>(image_, dir_ + "/mnt", bad, delayMs, log_);
    EXPECT_TRUE(mount_->ok()) << mount_->error();
    return mount_->path();
  }

  // target holds every readable sector of the source at its place (what a
  // bad sector holds depends on which tool found it).
  void ExpectReadableCopied(const std::string& target, const std::set<uint64_t>& bad, uint64_t sectors) {
    std::vector<uint8_t> source = ReadWholeFile(image_), copy = ReadWholeFile(target);
    ASSERT_GE(copy.size(), sectors * 512);
    for (uint64_t s = 0; s < sectors; ++s)
      if (!bad.count(s)) {
        ASSERT_EQ(0, std::memcmp(&copy[s * 512], &source[s * 512], 512)) << "sector " << s;
      }
  }

  std::string dir_, image_, imageHash_, log_;
  std::unique_ptr<FaultyMount> mount_;
};

}  // namespace

// The heart of it: scattered bad sectors, the first and the last sector, one
// in the 1024-byte remainder of a 3 MiB + 1024 source, and a whole bad MiB.
// The list must match the injected sectors exactly, each listed once.
TEST_F(FaultyDisk, EveryReadableSectorIntactEveryBadOneListed) {
  struct Case {
    const char* name;
    uint64_t size;
    std::vector<BadRun> bad;
  };
  const uint64_t odd = 3 * kMiB + 1024;
  const std::vector<Case> cases = {
      {"scattered", 4 * kMiB, {{7}, {2047, 2}, {3000, 5}, {6500}}},
      {"first, last and in the remainder", odd, {{0}, {6144}, {odd / 512 - 1}}},
      {"a whole bad MiB", 3 * kMiB, {{2048, 2048}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string disk = Mount(c.size, c.bad);
    std::string out = dir_ + "/out.img";
    CommandResult r = RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(out) + " --json");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<uint64_t> bad = Sectors(c.bad);
    EXPECT_EQ(JsonBadSectors(r.out), std::vector<uint64_t>(bad.begin(), bad.end()));
    EXPECT_EQ(JsonNumber(r.out, "sectors"), c.size / 512);
    EXPECT_EQ(JsonNumber(r.out, "copied"), c.size / 512 - bad.size());
    EXPECT_NE(r.out.find("\"complete\":true"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), c.size);
    ExpectCopy(image_, 0, c.size / 512, out, 0, bad);
  }
  // The text form lists the bad sectors too, and says it is done.
  std::string disk = Mount(2 * kMiB, {{100}, {101}, {3000}});
  CommandResult r = RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(dir_ + "/text.img"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("bad sectors: 3\n  100-101 (2 sectors)\n  3000\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("镜像完毕"), std::string::npos);
}

// A partition onto another image "disk" at a target start sector: bad sector
// numbers are the source disk's, only the target range is written.
TEST_F(FaultyDisk, PartitionOntoAnotherImageDisk) {
  std::string disk = Mount(6 * kMiB, {{2048 + 10}, {4096, 3}}, 0, true);
  std::string target = dir_ + "/target.img";
  std::vector<uint8_t> blank(8 * kMiB, 0xAB);
  std::ofstream(target, std::ios::binary).write(reinterpret_cast<const char*>(blank.data()), blank.size());
  CommandResult r =
      RunQuorvel("image " + Quote(disk) + " Partition0 --to-disk " + Quote(target) + " --target-start 100 --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonBadSectors(r.out), (std::vector<uint64_t>{2058, 4096, 4097, 4098}));
  EXPECT_EQ(JsonNumber(r.out, "first_sector"), 2048u);
  const uint64_t count = 6 * kMiB / 512 - 2048;
  ExpectCopy(image_, 2048, count, target, 100 * 512, {2058, 4096, 4097, 4098});
  std::vector<uint8_t> after = ReadWholeFile(target);
  ASSERT_EQ(after.size(), blank.size());  // a disk is never extended or cut
  for (uint64_t i = 0; i < 100 * 512; ++i) ASSERT_EQ(after[i], 0xAB);
  for (uint64_t i = 100 * 512 + count * 512; i < after.size(); ++i) ASSERT_EQ(after[i], 0xAB);

  // A range that does not fit the target is refused before anything is written.
  r = RunQuorvel("image " + Quote(disk) + " --to-disk " + Quote(target) + " --target-start 5000");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("目标空间不足"), std::string::npos) << r.err;
  EXPECT_EQ(ReadWholeFile(target), after);
  // --start and --count pick a range inside the partition.
  r = RunQuorvel("image " + Quote(disk) + " Partition0 --start 2000 --count 100 --to-file " +
                 Quote(dir_ + "/part.img") + " --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonBadSectors(r.out), (std::vector<uint64_t>{4096, 4097, 4098}));
  ExpectCopy(image_, 4048, 100, dir_ + "/part.img", 0, {4096, 4097, 4098});
  r = RunQuorvel("image " + Quote(disk) + " Partition0 --start 2000 --count 99999 --to-file " +
                 Quote(dir_ + "/part.img"));
  EXPECT_EQ(r.exitCode, 1);
}

// A block device (a read-only loop device over the faulty file) is read past
// the page cache: a bad sector costs only itself, not the 4 KiB page around it.
TEST_F(FaultyDisk, BlockDeviceSourceLosesOnlyTheBadSectors) {
  std::string disk = Mount(3 * kMiB, {{9}, {2049}, {4100, 2}});
  LoopDevice loop(disk);
  if (loop.path().empty()) GTEST_SKIP() << "no loop device could be set up here";
  std::string out = dir_ + "/loop.img";
  CommandResult r = RunQuorvel("image " + Quote(loop.path()) + " --to-file " + Quote(out) + " --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonBadSectors(r.out), (std::vector<uint64_t>{9, 2049, 4100, 4101}));
  ExpectCopy(image_, 0, 3 * kMiB / 512, out, 0, {9, 2049, 4100, 4101});
}

// The mapfile: the same bad areas as GNU ddrescue finds on the same source,
// and ddrescue takes it as its own - a resumed ddrescue run reads nothing more
// and leaves the image as it is.
TEST_F(FaultyDisk, MapfileAgreesWithDdrescue) {
  if (RunCommand("command -v ddrescue && command -v ddrescuelog").exitCode != 0) {
    if (FaultyMount::Required()) FAIL() << "GNU ddrescue (gddrescue) is not installed";
    GTEST_SKIP() << "GNU ddrescue (gddrescue) is not installed";
  }
  std::string disk = Mount(3 * kMiB + 1024, {{0}, {5}, {2040, 20}, {6145}});
  std::string ours = dir_ + "/ours.img", ourMap = dir_ + "/ours.map";
  CommandResult r = RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(ours) + " --mapfile " + Quote(ourMap));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string theirs = dir_ + "/dd.img", theirMap = dir_ + "/dd.map";
  ASSERT_EQ(RunCommand("ddrescue -b512 " + Quote(disk) + " " + Quote(theirs) + " " + Quote(theirMap)).exitCode, 0);
  EXPECT_EQ(MapBlocks(ourMap), MapBlocks(theirMap));
  CommandResult ourList = RunCommand("ddrescuelog -b512 -l- " + Quote(ourMap));
  CommandResult theirList = RunCommand("ddrescuelog -b512 -l- " + Quote(theirMap));
  ASSERT_EQ(ourList.exitCode, 0) << ourList.err;
  EXPECT_EQ(ourList.out, theirList.out);
  EXPECT_EQ(
      ourList.out, "0\n5\n" + [] {
        std::string s;
        for (int i = 2040; i < 2060; ++i) s += std::to_string(i) + "\n";
        return s;
      }() + "6145\n");

  std::string before = FileSha256(ours);
  size_t reads = LineCount(log_);
  CommandResult resumed = RunCommand("ddrescue -b512 " + Quote(disk) + " " + Quote(ours) + " " + Quote(ourMap));
  EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(LineCount(log_), reads) << "ddrescue read again what our mapfile calls done or bad";
  EXPECT_EQ(FileSha256(ours), before);
}

// The rescue's reads as the faulty disk saw them: the same requests, in the
// same order, as GNU ddrescue (default settings) makes on the same disk -
// scattered single bad sectors and a cluster of bad sectors, forwards and
// with --reverse --retries 1 - and each sector asked for at most twice before
// the retries. Our first request is the disk's recognition, not the rescue.
TEST_F(FaultyDisk, ReadsInDdrescuesOrder) {
  const std::vector<BadRun> bad = {{5}, {1000}, {4100}, {9000, 300}, {15000}};
  std::string disk = Mount(8 * kMiB, bad);
  struct Case {
    const char* ours;
    const char* theirs;
  };
  const bool haveDdrescue = RunCommand("command -v ddrescue").exitCode == 0;
  if (!haveDdrescue && FaultyMount::Required()) FAIL() << "GNU ddrescue (gddrescue) is not installed";
  for (const Case& c : {Case{"", ""}, Case{"--reverse --retries 1", "-R -r1"}}) {
    SCOPED_TRACE(c.ours);
    std::string out = dir_ + "/ours.img";
    ::unlink(out.c_str());
    size_t before = ReadLog(log_).size();
    CommandResult r =
        RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(out) + " --json " + std::string(c.ours));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<LoggedRead> ours = ReadLog(log_);
    ours.erase(ours.begin(), ours.begin() + static_cast<long>(before + RecognitionReads(ours, before)));
    std::set<uint64_t> badSectors = Sectors(bad);
    EXPECT_EQ(JsonBadSectors(r.out), std::vector<uint64_t>(badSectors.begin(), badSectors.end()));
    // Without retries every sector is asked for at most twice, and a lone bad
    // sector costs two failing reads: its cluster, then itself.
    if (std::string(c.ours).empty()) {
      std::map<uint64_t, int> tries;
      size_t failing = 0;
      for (const LoggedRead& read : ours) {
        failing += read.result < 0;
        for (uint64_t sector = read.offset / 512; sector < (read.offset + read.size) / 512; ++sector) ++tries[sector];
      }
      for (const auto& [sector, n] : tries) ASSERT_LE(n, 2) << "sector " << sector;
      EXPECT_LE(failing, 4 * 2 + 300 + 6u);
    }
    if (!haveDdrescue) continue;
    std::string theirs = dir_ + "/dd.img", theirMap = dir_ + "/dd.map";
    ::unlink(theirs.c_str());
    ::unlink(theirMap.c_str());
    before = ReadLog(log_).size();
    ASSERT_EQ(RunCommand("ddrescue " + std::string(c.theirs) + " " + Quote(disk) + " " + Quote(theirs) + " " +
                         Quote(theirMap))
                  .exitCode,
              0);
    std::vector<LoggedRead> ddrescue = ReadLog(log_);
    ddrescue.erase(ddrescue.begin(), ddrescue.begin() + static_cast<long>(before));
    ASSERT_EQ(ours.size(), ddrescue.size());
    EXPECT_TRUE(ours == ddrescue) << "first difference at read "
                                  << std::mismatch(ours.begin(), ours.end(), ddrescue.begin()).first - ours.begin();
  }
}

// Ctrl-C while trimming: exit 3, not done, and the mapfile says where the
// rescue was (phase '*', non-trimmed areas left). The same command resumes
// it: nothing finished is read again, and it ends with the image a single
// run makes.
TEST_F(FaultyDisk, StopThenResumeWithTheMapfile) {
  const std::vector<BadRun> bad = {{2048 + 700}, {3 * 2048 + 5}, {5000, 200}};
  std::string disk = Mount(4 * kMiB, bad, 1);
  std::string out = dir_ + "/out.img", map = dir_ + "/out.map", json = dir_ + "/stop.json";
  pid_t pid = Spawn({QUORVEL_CLI, "image", disk, "--to-file", out, "--mapfile", map, "--json"}, json);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForRead(log_, [](const LoggedRead& r) { return r.size == 512; })) << "no trimming read";
  ::kill(pid, SIGINT);
  ASSERT_EQ(ExitStatus(pid), 3);
  std::string stopped = FileText(json);
  EXPECT_NE(stopped.find("\"complete\":false,\"stopped\":true"), std::string::npos) << stopped;
  std::string blocks = MapBlocks(map);
  EXPECT_NE(blocks.find(" *\n"), std::string::npos) << blocks;
  EXPECT_EQ(MapStatusLine(map).second, '*');
  Mapfile atStop;
  std::string error;
  ASSERT_TRUE(ReadMapfile(map, atStop, error)) << error;

  size_t before = ReadLog(log_).size();
  CommandResult r =
      RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(out) + " --mapfile " + Quote(map) + " --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<LoggedRead> resumed = ReadLog(log_);
  for (size_t i = before + RecognitionReads(resumed, before); i < resumed.size(); ++i)
    EXPECT_NE(atStop.BlockAt(resumed[i].offset).status, '+') << "read again: " << resumed[i].offset;
  std::set<uint64_t> badSectors = Sectors(bad);
  EXPECT_EQ(JsonBadSectors(r.out), std::vector<uint64_t>(badSectors.begin(), badSectors.end()));
  EXPECT_EQ(JsonNumber(r.out, "already_done") + JsonNumber(r.out, "copied") + badSectors.size(), 4 * kMiB / 512);
  ExpectCopy(image_, 0, 4 * kMiB / 512, out, 0, badSectors);
  EXPECT_EQ(MapStatusLine(map).second, '+');
}

// A rescue stopped half-way is finished by GNU ddrescue from our mapfile,
// and one that ddrescue left half-way (Ctrl-C while trimming) is finished by
// us from ddrescue's: neither reads again what the other finished, and the
// result lists exactly the bad sectors.
TEST_F(FaultyDisk, DdrescueTakesOverAndHandsOver) {
  if (RunCommand("command -v ddrescue && command -v ddrescuelog").exitCode != 0) {
    if (FaultyMount::Required()) FAIL() << "GNU ddrescue (gddrescue) is not installed";
    GTEST_SKIP() << "GNU ddrescue (gddrescue) is not installed";
  }
  const std::vector<BadRun> bad = {{40}, {2048 + 9}, {4000, 150}, {7000}};
  const std::set<uint64_t> badSectors = Sectors(bad);
  std::string expectedList;
  for (uint64_t sector : badSectors) expectedList += std::to_string(sector) + "\n";
  std::string disk = Mount(4 * kMiB, bad, 1);

  {
    SCOPED_TRACE("ddrescue finishes ours");
    std::string out = dir_ + "/a.img", map = dir_ + "/a.map";
    pid_t pid = Spawn({QUORVEL_CLI, "image", disk, "--to-file", out, "--mapfile", map, "--quiet"}, "/dev/null");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForRead(log_, [](const LoggedRead& r) { return r.size == 512; }));
    ::kill(pid, SIGINT);
    ASSERT_EQ(ExitStatus(pid), 3);
    Mapfile atStop;
    std::string error;
    ASSERT_TRUE(ReadMapfile(map, atStop, error)) << error;
    size_t before = ReadLog(log_).size();
    CommandResult dd = RunCommand("ddrescue -b512 " + Quote(disk) + " " + Quote(out) + " " + Quote(map));
    ASSERT_EQ(dd.exitCode, 0) << dd.err;
    std::vector<LoggedRead> reads = ReadLog(log_);
    ASSERT_GT(reads.size(), before);
    for (size_t i = before; i < reads.size(); ++i)
      EXPECT_NE(atStop.BlockAt(reads[i].offset).status, '+') << "ddrescue read again: " << reads[i].offset;
    EXPECT_EQ(RunCommand("ddrescuelog -b512 -l- " + Quote(map)).out, expectedList);
    ExpectReadableCopied(out, badSectors, 4 * kMiB / 512);
  }
  {
    SCOPED_TRACE("we finish ddrescue's");
    std::string out = dir_ + "/b.img", map = dir_ + "/b.map";
    size_t start = ReadLog(log_).size();
    pid_t pid = Spawn({"ddrescue", "-b512", disk, out, map}, "/dev/null");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForRead(
        log_, [](const LoggedRead& r) { return r.size == 512; }, start));
    ::kill(pid, SIGINT);
    ExitStatus(pid);  // ddrescue ends by the signal, its mapfile written
    Mapfile atStop;
    std::string error;
    ASSERT_TRUE(ReadMapfile(map, atStop, error)) << error;
    ASSERT_NE(MapBlocks(map).find(" *\n"), std::string::npos) << MapBlocks(map);
    size_t before = ReadLog(log_).size();
    CommandResult r =
        RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(out) + " --mapfile " + Quote(map) + " --json");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<LoggedRead> reads = ReadLog(log_);
    for (size_t i = before + RecognitionReads(reads, before); i < reads.size(); ++i)
      EXPECT_NE(atStop.BlockAt(reads[i].offset).status, '+') << "read again: " << reads[i].offset;
    EXPECT_EQ(JsonBadSectors(r.out), std::vector<uint64_t>(badSectors.begin(), badSectors.end()));
    EXPECT_GT(JsonNumber(r.out, "already_done"), 0u);
    // Sectors ddrescue found bad hold the filler now, like ours.
    ExpectCopy(image_, 0, 4 * kMiB / 512, out, 0, badSectors);
    EXPECT_EQ(RunCommand("ddrescuelog -b512 -l- " + Quote(map)).out, expectedList);
  }
}

// A target on a full file system: the failed write stops the copy with the
// message, exit 2, and nothing is reported done; the mapfile calls done only
// what reached the target.
TEST_F(FaultyDisk, FullTargetStopsAndIsNotReportedDone) {
  std::string small = dir_ + "/small";
  ::mkdir(small.c_str(), 0755);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};
  std::string disk = Mount(3 * kMiB, {{10}});
  std::string map = dir_ + "/full.map";
  CommandResult r = RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(small + "/out.img") + " --mapfile " +
                               Quote(map) + " --json");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("磁盘有坏道，请重新选择目标文件"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\"complete\":false"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("镜像完毕"), std::string::npos);
  EXPECT_LT(JsonNumber(r.out, "copied"), 3 * kMiB / 512);
  std::string blocks = MapBlocks(map);
  uint64_t finished = 0;
  std::istringstream lines(blocks);
  std::string pos, size, st;
  while (lines >> pos >> size >> st)
    if (st == "+") finished += std::stoull(size);
  EXPECT_LE(finished, kMiB);  // at most what fit in 1 MiB
  r = RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(small + "/text.img"));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out.find("镜像完毕"), std::string::npos);
}

// A target that is the source, by any road, is refused before it is opened
// for writing: the faulty file itself, the image behind it, a symlink to it,
// and a plain image as its own disk target.
TEST_F(FaultyDisk, TargetThatIsTheSourceIsRefused) {
  std::string disk = Mount(2 * kMiB, {{3}});
  std::string link = dir_ + "/link.img";
  ASSERT_EQ(::symlink(image_.c_str(), link.c_str()), 0);
  const std::vector<std::string> refused = {
      "image " + Quote(disk) + " --to-file " + Quote(disk),
      "image " + Quote(disk) + " --to-file " + Quote(image_),
      "image " + Quote(disk) + " --to-disk " + Quote(image_),
      "image " + Quote(image_) + " --to-file " + Quote(link),
      "image " + Quote(image_) + " --to-disk " + Quote(image_) + " --count 10 --target-start 2",
      "image " + Quote(disk) + " --to-file " + Quote(dir_ + "/out.img") + " --mapfile " + Quote(image_),
  };
  for (const std::string& args : refused) {
    SCOPED_TRACE(args);
    CommandResult r = RunQuorvel(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("目标位于源磁盘上"), std::string::npos) << r.err;
  }
  // The mapfile must not be the image either, even before the image exists.
  CommandResult mapIsImage = RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(dir_ + "/new.img") +
                                        " --mapfile " + Quote(dir_ + "/./new.img"));
  EXPECT_EQ(mapIsImage.exitCode, 1);
  EXPECT_NE(::access((dir_ + "/new.img").c_str(), F_OK), 0);
  // A second image beside the source is fine.
  CommandResult r = RunQuorvel("image " + Quote(image_) + " --to-file " + Quote(dir_ + "/copy.img"));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // No target, or two, is a usage error; a directory is not an image file.
  EXPECT_EQ(RunQuorvel("image " + Quote(disk)).exitCode, 1);
  EXPECT_EQ(RunQuorvel("image " + Quote(disk) + " --to-file a --to-disk b").exitCode, 1);
  r = RunQuorvel("image " + Quote(disk) + " --to-file " + Quote(dir_));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("目标文件路径不是普通文件"), std::string::npos) << r.err;
}

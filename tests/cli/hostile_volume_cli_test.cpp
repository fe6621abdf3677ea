// Volumes a corrupt or hostile disk can present, run through the whole
// command: folders nested 20,000 deep, boot sectors claiming terabytes, a FAT
// claiming a gigabyte, attribute lists naming 131,072 extension records.
// Every command must end in time and memory bounded by the image, never
// crash (the suite also runs under ASan, where a deep recursion overflows).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>

#include "fs/ntfs/ntfs_craft.h"
#include "support/test_support.h"
#include "volumes/disk_crafting.h"

extern char** environ;

namespace quorvel {
namespace {

using test::Bytes;
using test::CommandResult;
using test::RecordBuilder;
using test::Ref;
using test::RunQuorvel;
using test::ShellQuote;
using test::VolumeBuilder;

struct Measured {
  int exitCode = -1;
  double seconds = 0;
  long peakKiB = 0;  // resident memory at its highest
};

// Runs quorvel with args (output to /dev/null), killed after limitSeconds.
Measured RunMeasured(const std::vector<std::string>& args, int limitSeconds = 120) {
  std::vector<std::string> full = {"timeout", std::to_string(limitSeconds), QUORVEL_CLI};
  full.insert(full.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : full) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Measured m;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "timeout", &actions, nullptr, argv.data(), environ) != 0) return m;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // The children's peak: timeout's own child is quorvel.
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  m.peakKiB = children.ru_maxrss;
  return m;
}

constexpr uint64_t kFirstFolder = 16;
constexpr uint64_t kDepth = 20000;

// An NTFS volume whose folder records form one parent chain 20,000 deep, with
// a file at the bottom and one near the top.
std::string DeepChainImage(const std::string& dir) {
  const uint32_t records = kFirstFolder + kDepth + 2;
  VolumeBuilder volume(records, (4 + (uint64_t{records} + 3) / 4 + 16) * 8);
  for (uint64_t i = 0; i < kDepth; ++i) {
    const uint64_t number = kFirstFolder + i;
    const uint64_t parent = i == 0 ? 5 : number - 1;
    volume.Put(static_cast<uint32_t>(number),
               RecordBuilder(static_cast<uint32_t>(number), 3).FileName(Ref(parent, 1), "d").Finish());
  }
  const uint32_t bottom = kFirstFolder + kDepth, top = bottom + 1;
  volume.Put(
      bottom,
      RecordBuilder(bottom, 1).FileName(Ref(bottom - 1, 1), "bottom.txt").ResidentData({'d', 'e', 'e', 'p'}).Finish());
  volume.Put(top,
             RecordBuilder(top, 1).FileName(Ref(kFirstFolder, 1), "top.txt").ResidentData({'t', 'o', 'p'}).Finish());
  return volume.Write(dir + "/deep.img");
}

// Catches: the recursive walks (tree fill, table and JSON output, save,
// teardown) overflowing the stack on a 20,000-deep chain, and the output
// building every row's path from the top (memory and time in the square of
// the depth).
TEST(HostileVolumes, DeepFolderChainListsAndSaves) {
  const std::string dir = test::MakeTempDir("deep");
  const std::string image = DeepChainImage(dir);
  CommandResult table = RunQuorvel("ls " + ShellQuote(image) + " 0 --quiet");
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("[depth 20001] bottom.txt"), std::string::npos);
  EXPECT_NE(table.out.find("top.txt"), std::string::npos);
  EXPECT_LT(table.out.size(), 20u << 20) << "indentation must not grow with the depth";

  for (const bool json : {false, true}) {
    std::vector<std::string> args = {"ls", image, "0", "--quiet"};
    if (json) args.push_back("--json");
    const char* format = json ? "--json" : "table";
    Measured m = RunMeasured(args);
    EXPECT_EQ(m.exitCode, 0) << format;
    EXPECT_LT(m.seconds, 100.0) << format;
    EXPECT_LT(m.peakKiB, 700 * 1024) << format;  // a path per level would take gigabytes
  }

  // The bottom file's path is far longer than the kernel walks in one call:
  // the save makes its folders one below the other and saves it too.
  CommandResult save = RunQuorvel("save " + ShellQuote(image) + " 0 --to " + ShellQuote(dir + "/out") + " --quiet");
  EXPECT_EQ(save.exitCode, 0) << save.out << save.err;
  EXPECT_NE(save.out.find("files written: 2 (complete: 2"), std::string::npos) << save.out;
  EXPECT_EQ(test::ReadWholeFile(dir + "/out/根目录/d/top.txt"), (std::vector<uint8_t>{'t', 'o', 'p'}));
}

// An image of `sectors` sectors whose boot sector is then changed by patch.
template <typename Patch>
std::string PatchedImage(const std::string& path, std::vector<uint8_t> bytes, Patch patch) {
  patch(bytes.data());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

// Catches: sizes a boot sector claims trusted past the end of a small image:
// a sweep over 2 TB, a $MFT run over 512 TB, a 1 GB FAT loaded from 1 MiB.
TEST(HostileVolumes, ClaimedSizesAreBoundedByTheImage) {
  const std::string dir = test::MakeTempDir("claims");

  // FAT16 (made by mkfs.fat) whose boot sector claims 2 TB.
  const std::string fat16 = dir + "/fat16-2tb.img";
  ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -s 1 -C " + ShellQuote(fat16) + " 4096").exitCode, 0);
  {
    std::vector<uint8_t> bytes = test::ReadWholeFile(fat16);
    PatchedImage(fat16, bytes, [](uint8_t* s) {
      test::PutLe16(s + 0x13, 0);
      test::PutLe32(s + 0x20, 0xFFFFFFFF);
    });
  }
  // NTFS whose boot sector claims 512 TB and whose $MFT claims a run of 2^31 clusters.
  VolumeBuilder ntfs(64, 8192);
  ntfs.Put(0, RecordBuilder(0, 1)
                  .StandardInformation(1, 1, 1)
                  .FileName(Ref(5, 5), "$MFT", 3)
                  .NonResidentData({0x41, 0x00, 0x00, 0x00, 0x80, 0x04, 0x00}, uint64_t{1} << 43)
                  .Finish());
  std::vector<uint8_t> ntfsBytes = ntfs.bytes();
  const std::string ntfsImage = PatchedImage(dir + "/ntfs-512tb.img", ntfsBytes, [&](uint8_t* s) {
    test::PutLe64(s + 0x28, uint64_t{1} << 40);
    std::copy_n(s, 512, s + ntfsBytes.size() - 512);
  });
  // FAT32 of 1 MiB whose boot sector claims a FAT of 2,000,000 sectors (about 1 GB).
  std::vector<uint8_t> fat32Bytes(1 << 20, 0);
  const std::string fat32 = PatchedImage(dir + "/fat32-bigfat.img", fat32Bytes, [](uint8_t* s) {
    test::MakeFat32Boot(s);
    s[0x0D] = 8;
    test::PutLe32(s + 0x20, 8000000);
    test::PutLe32(s + 0x24, 2000000);
    test::PutLe32(s + 0x2C, 2);
  });

  struct Case {
    std::vector<std::string> args;
  } cases[] = {
      {{"ls", fat16, "0", "--format-scan", "--quiet"}},
      {{"ls", ntfsImage, "0", "--quiet"}},
      {{"ls", fat32, "0", "--quiet"}},
      {{"deep-scan", fat16, "0", "--quiet"}},
      {{"save", ntfsImage, "0", "--to", dir + "/out-ntfs", "--quiet"}},
  };
  for (const Case& c : cases) {
    Measured m = RunMeasured(c.args, 60);
    const std::string what = c.args[0] + " " + c.args[1];
    EXPECT_NE(m.exitCode, 124) << what << ": still running after 60 s";
    EXPECT_LT(m.seconds, 50.0) << what;
    EXPECT_LT(m.peakKiB, 400 * 1024) << what;
  }
  // The claim is listed as it stands, and said to reach past the image.
  CommandResult r = RunQuorvel("ls " + ShellQuote(ntfsImage) + " 0 --quiet");
  EXPECT_NE(r.err.find("past the end of the source"), std::string::npos) << r.err;
}

// A non-resident $ATTRIBUTE_LIST (header and a one-run run list) whose value
// lies in `clusters` clusters from cluster `first`.
Bytes NonResidentAttributeList(uint16_t first, uint16_t clusters) {
  Bytes a(72, 0);
  test::PutLe32(a.data(), 0x20);
  test::PutLe32(a.data() + 4, 72);
  a[8] = 1;
  test::PutLe64(a.data() + 0x18, clusters - 1u);
  test::PutLe16(a.data() + 0x20, 0x40);
  const uint64_t bytes = uint64_t{clusters} * 4096;
  test::PutLe64(a.data() + 0x28, bytes);
  test::PutLe64(a.data() + 0x30, bytes);
  test::PutLe64(a.data() + 0x38, bytes);
  const uint8_t run[] = {0x22,
                         static_cast<uint8_t>(clusters),
                         static_cast<uint8_t>(clusters >> 8),
                         static_cast<uint8_t>(first),
                         static_cast<uint8_t>(first >> 8),
                         0x00};
  std::copy(std::begin(run), std::end(run), a.begin() + 0x40);
  return a;
}

// Catches: an attribute list naming 131,072 extension records making the
// reader compare each reference with every one before it (hours), and read
// references the MFT cannot hold.
TEST(HostileVolumes, HugeAttributeListsEndInTime) {
  const std::string dir = test::MakeTempDir("attrlist");
  constexpr uint16_t kListCluster = 100, kListClusters = 1024;  // 4 MiB
  VolumeBuilder volume(256, (kListCluster + kListClusters + 8) * 8);
  // 131,072 entries of 32 bytes: $DATA pieces in records 16, 17, 18, ...
  std::vector<uint8_t> list(size_t{kListClusters} * 4096, 0);
  for (size_t i = 0; i < list.size() / 32; ++i) {
    uint8_t* e = list.data() + i * 32;
    test::PutLe32(e, 0x80);
    test::PutLe16(e + 4, 32);
    test::PutLe64(e + 16, 16 + i);
  }
  std::vector<uint8_t> image = volume.bytes();
  std::copy(list.begin(), list.end(), image.begin() + size_t{kListCluster} * 4096);
  for (uint32_t base = 16; base < 24; ++base) {
    const Bytes record = RecordBuilder(base, 1)
                             .RawAttribute(NonResidentAttributeList(kListCluster, kListClusters))
                             .FileName(Ref(5, 5), "f" + std::to_string(base))
                             .Finish();
    std::copy(record.begin(), record.end(), image.begin() + volume.MftSector(base) * 512);
  }
  const std::string path = dir + "/attrlist.img";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
  Measured m = RunMeasured({"ls", path, "0", "--quiet"}, 60);
  EXPECT_EQ(m.exitCode, 0);
  EXPECT_LT(m.seconds, 40.0);
}

}  // namespace
}  // namespace quorvel

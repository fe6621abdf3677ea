// The write guard through the command line: one table of targets, beside and
// inside real mounts of the sources (an ntfs-3g FUSE mount of an image, a
// mount of a loop device backed by it, a mount of a dynamic-disk member),
// each judged by the core check the GUI asks too, and each refused - or not -
// by `save`, `--save-scan` and `image` exactly as the core check says.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <climits>
#include <fstream>

#include "io/write_guard.h"
#include "model/partition_texts.h"
#include "support/test_support.h"
#include "volumes/disk_enumeration.h"

namespace quorvel {
namespace {

using test::CommandResult;
using test::FixturePath;
using test::RunCommand;
using test::RunQuorvel;
using test::ShellQuote;

const char* const kSaveRefused = "将文件放回原分区行为危险";
const char* const kScanFileRefused = "警告: 扫描信息不能保存在源磁盘上";
const char* const kImageRefused = "目标位于源磁盘上";

// Mounts and loop devices made for the test, undone on every way out (a
// failed ASSERT included): mounts first, then the loop devices under them.
struct Undo {
  std::vector<std::string> mounts, loops;
  ~Undo() {
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
      RunCommand("umount " + ShellQuote(*it) + " || umount -l " + ShellQuote(*it));
    for (const std::string& loop : loops) RunCommand("losetup -d " + ShellQuote(loop));
  }
};

std::string Attach(Undo& undo, const std::string& file, const std::string& options = "") {
  CommandResult r = RunCommand("losetup -r -f --show " + options + " " + ShellQuote(file));
  if (r.exitCode != 0) return std::string();
  std::string device = r.out.substr(0, r.out.find('\n'));
  undo.loops.push_back(device);
  return device;
}

bool MountNtfs(Undo& undo, const std::string& what, const std::string& point) {
  if (RunCommand("mkdir -p " + ShellQuote(point) + " && ntfs-3g -o ro " + ShellQuote(what) + " " + ShellQuote(point))
          .exitCode != 0)
    return false;
  undo.mounts.push_back(point);
  return true;
}

// The whole disk under the file system of path ("/dev/vda"), when it is a
// plain block device; empty on overlay, tmpfs and the like.
std::string DiskUnder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::string();
  const std::string sys = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  char resolved[PATH_MAX];
  if (!::realpath(sys.c_str(), resolved)) return std::string();
  std::string dir = resolved;
  if (::access((dir + "/partition").c_str(), F_OK) == 0) dir = dir.substr(0, dir.find_last_of('/'));
  const std::string name = dir.substr(dir.find_last_of('/') + 1);
  if (::access(("/sys/block/" + name + "/slaves").c_str(), F_OK) == 0 &&
      !RunCommand("ls -A /sys/block/" + name + "/slaves").out.empty())
    return std::string();  // stacked (device-mapper, md): not one disk
  return ::access(("/dev/" + name).c_str(), R_OK) == 0 ? "/dev/" + name : std::string();
}

enum class Op { kSave, kScanFile, kImageFile, kMapfile, kToDisk };

struct Source {
  std::vector<std::string> paths;
  std::string partition;  // empty: the whole disk
  std::string savePath;   // --path for a quick save
};

struct Case {
  const char* what;
  const Source* source;
  Op op;
  std::string target;
  bool reaches;
};

// The records of source, opened as the command line opens them.
bool Records(const Source& source, DiskList& disks, const DiskRecord*& disk, const PartitionRecord*& partition) {
  for (const std::string& path : source.paths)
    if (!OpenImageFile(disks, path)) return false;
  for (const DiskRecord& d : disks) {
    if (source.partition.empty()) {
      disk = &d;
      partition = nullptr;
      return true;
    }
    std::vector<std::string> rows = PartitionRowTexts(d);
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i] != source.partition && std::to_string(i) != source.partition) continue;
      disk = &d;
      partition = &*std::next(d.partitions.begin(), static_cast<long>(i));
      return true;
    }
  }
  return false;
}

// Runs the case's command; true when the guard refused it.
bool RefusedByCommand(const Case& c, const std::string& work) {
  std::string sources;
  for (const std::string& p : c.source->paths) sources += ShellQuote(p) + " ";
  const std::string part = c.source->partition.empty() ? "" : ShellQuote(c.source->partition) + " ";
  CommandResult r;
  const char* refusal = kImageRefused;
  int refusedStatus = 2;
  switch (c.op) {
    case Op::kSave:
      refusal = kSaveRefused;
      r = RunQuorvel("save " + sources + part + "--quiet --to " + ShellQuote(c.target) +
                     (c.source->savePath.empty() ? "" : " --path " + ShellQuote(c.source->savePath)));
      break;
    case Op::kScanFile:
      refusal = kScanFileRefused;
      refusedStatus = 1;
      r = RunQuorvel("format-scan " + sources + part + "--quiet --save-scan " + ShellQuote(c.target));
      break;
    case Op::kImageFile:
      r = RunQuorvel("image " + sources + part + "--count 16 --quiet --to-file " + ShellQuote(c.target));
      break;
    case Op::kMapfile:
      r = RunQuorvel("image " + sources + part + "--count 16 --quiet --to-file " +
                     ShellQuote(work + "/beside/mapped.img") + " --mapfile " + ShellQuote(c.target));
      break;
    case Op::kToDisk:
      r = RunQuorvel("image " + sources + part + "--count 16 --quiet --to-disk " + ShellQuote(c.target));
      break;
  }
  const bool refused = r.exitCode == refusedStatus && r.err.find(refusal) != std::string::npos;
  EXPECT_TRUE(refused || r.exitCode == 0) << "exit " << r.exitCode << ": " << r.err;
  return refused;
}

TEST(WriteGuardCli, OneTableForEveryWriter) {
  for (const char* name : {"ntfs.img", "ldm-all/ldm-2008r2-mirrored-1.img"})
    if (!test::HaveFixture(name)) GTEST_SKIP() << name << " not built";
  const bool root = ::geteuid() == 0, fuse = ::access("/dev/fuse", R_OK | W_OK) == 0;
  if (!root || !fuse) {
    // Under CI the table must run, not pass by skipping.
    if (test::FixturesRequired()) FAIL() << "mounts need root and /dev/fuse (CI=true)";
    GTEST_SKIP() << "mounts need root and /dev/fuse";
  }
  const std::string work = test::MakeTempDir("write-guard");
  const std::string image = FixturePath("ntfs.img");
  const std::string ldm = FixturePath("ldm-all/ldm-2008r2-");
  const std::string member = ldm + "mirrored-1.img";
  const std::string memberHash = test::FileSha256(member), imageHash = test::FileSha256(image);
  ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(work + "/beside")).exitCode, 0);

  Undo undo;
  const std::string imageLoop = Attach(undo, image);
  // The mirrored volume's copy on this member lies at 64 KiB, 16 MiB long.
  const std::string memberLoop = Attach(undo, member, "-o 65536 --sizelimit 16777216");
  const std::string diskLoop = Attach(undo, image);
  ASSERT_FALSE(imageLoop.empty() || memberLoop.empty() || diskLoop.empty()) << "no loop devices";
  ASSERT_TRUE(MountNtfs(undo, image, work + "/fuse"));
  ASSERT_TRUE(MountNtfs(undo, imageLoop, work + "/loop"));
  ASSERT_TRUE(MountNtfs(undo, memberLoop, work + "/member"));
  // A link to a folder not made yet inside the mount: saving there follows it.
  ASSERT_EQ(::symlink((work + "/fuse/new").c_str(), (work + "/dangling").c_str()), 0);

  const Source ntfs{{image}, "0", "根目录/docs"};
  // The spanned volume I: over three member images, one of them the member mounted above.
  const Source group{{ldm + "raid5-1.img", ldm + "striped-1.img", member}, "I:", ""};
  const Source memberDisk{{member}, "", ""};
  const Source loopDisk{{diskLoop}, "0", "根目录/docs"};
  const Case cases[] = {
      {"beside the image", &ntfs, Op::kSave, work + "/beside/ntfs", false},
      {"in its FUSE mount", &ntfs, Op::kSave, work + "/fuse/out", true},
      {"the FUSE mount point", &ntfs, Op::kSave, work + "/fuse", true},
      {"in a mount of its loop device", &ntfs, Op::kSave, work + "/loop/out", true},
      {"through a dangling link into the mount", &ntfs, Op::kSave, work + "/dangling", true},
      {"scan file beside the image", &ntfs, Op::kScanFile, work + "/beside/ntfs.rvz_scn", false},
      {"scan file in its FUSE mount", &ntfs, Op::kScanFile, work + "/fuse/ntfs.rvz_scn", true},
      {"image file beside the image", &ntfs, Op::kImageFile, work + "/beside/copy.img", false},
      {"image file in a mount of its loop device", &ntfs, Op::kImageFile, work + "/loop/copy.img", true},
      {"mapfile in its FUSE mount", &ntfs, Op::kMapfile, work + "/fuse/copy.map", true},
      {"its own loop device as target disk", &ntfs, Op::kToDisk, imageLoop, true},
      {"volume beside its member images", &group, Op::kSave, work + "/beside/group", false},
      {"volume in a mount of a member", &group, Op::kSave, work + "/member/out", true},
      {"volume scan file beside its members", &group, Op::kScanFile, work + "/beside/group.rvz_scn", false},
      {"volume scan file in a mount of a member", &group, Op::kScanFile, work + "/member/g.rvz_scn", true},
      {"member image file in a mount of it", &memberDisk, Op::kImageFile, work + "/member/g.img", true},
      {"loop disk: beside its backing file", &loopDisk, Op::kSave, work + "/beside/loop", false},
      {"loop disk: in another loop mount of its file", &loopDisk, Op::kSave, work + "/loop/out", true},
      {"loop disk: in a FUSE mount of its file", &loopDisk, Op::kSave, work + "/fuse/out", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiskList disks;
    const DiskRecord* disk = nullptr;
    const PartitionRecord* partition = nullptr;
    ASSERT_TRUE(Records(*c.source, disks, disk, partition));
    // A scan-result file holds the whole disk's results.
    const bool core = TargetReachesSource(c.target, *disk, c.op == Op::kScanFile ? nullptr : partition);
    EXPECT_EQ(core, c.reaches);
    EXPECT_EQ(RefusedByCommand(c, work), c.reaches);
  }

  // A raw disk source: a file anywhere on it reaches it. Containers may not
  // open the host's disk; the record alone is judged then.
  const std::string hostDisk = DiskUnder(work);
  if (!hostDisk.empty()) {
    SCOPED_TRACE(hostDisk);
    DiskRecord disk;
    disk.devicePath = hostDisk;
    EXPECT_TRUE(TargetReachesSource(work + "/beside/disk.img", disk, nullptr));
    const int fd = ::open(hostDisk.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      const Source raw{{hostDisk}, "", ""};
      EXPECT_TRUE(
          RefusedByCommand({"image file on the disk", &raw, Op::kImageFile, work + "/beside/disk.img", true}, work));
    }
  }
  // Nothing was written into any source.
  EXPECT_EQ(test::FileSha256(image), imageHash);
  EXPECT_EQ(test::FileSha256(member), memberHash);
}

}  // namespace
}  // namespace quorvel

// Resolving the dialog's selection texts, and the checks made before anything
// is opened for writing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <fstream>

#include "imaging/imaging_job.h"
#include "imaging/imaging_target.h"
#include "imaging/imaging_texts.h"
#include "support/test_support.h"

using namespace quorvel;

namespace {

PartitionRecord Partition(const std::string& name, uint64_t start, uint64_t count, const std::string& label = "",
                          const std::string& mount = "") {
  PartitionRecord p;
  p.name = name;
  p.startSector = start;
  p.sectorCount = count;
  p.volumeLabel = label;
  p.driveLetter = mount;
  return p;
}

DiskRecord Disk(const std::string& vendor, const std::string& path, uint64_t size) {
  DiskRecord d;
  d.vendor = vendor;
  d.devicePath = path;
  d.sizeBytes = size;
  return d;
}

void MakeFile(const std::string& path, uint64_t size) {
  std::ofstream out(path, std::ios::binary);
  out.seekp(static_cast<std::streamoff>(size) - 1);
  out.put('\0');
}

}  // namespace

// Disks by naming text, partitions by name, mount point or label; a disk name
// holding a comma still resolves, the longest fitting name winning.
TEST(ImagingTarget, ResolvesSelectionTexts) {
  DiskList disks;
  disks.push_back(Disk("a", "/x/a", 1 << 20));
  disks.back().partitions.push_back(Partition("b.img", 2048, 100));
  disks.push_back(Disk("a,b.img", "/x/ab", 4 << 20));
  disks.back().partitions.push_back(Partition("Partition0", 2048, 4096, "DATA"));
  disks.back().partitions.push_back(Partition("Partition1", 6144, 2048, "", "/mnt/usb"));
  ImagingSelection s;
  ASSERT_TRUE(ResolveImagingTarget(disks, "a,b.img", s));
  EXPECT_EQ(s.devicePath, "/x/ab");
  EXPECT_EQ(s.partition, nullptr);
  EXPECT_EQ(s.length, 4u << 20);
  ASSERT_TRUE(ResolveImagingTarget(disks, "a,b.img,Partition1", s));
  EXPECT_EQ(s.startByte, 6144u * 512);
  EXPECT_EQ(s.length, 2048u * 512);
  ASSERT_TRUE(ResolveImagingTarget(disks, "a,b.img,/mnt/usb", s));
  EXPECT_EQ(s.partition->name, "Partition1");
  ASSERT_TRUE(ResolveImagingTarget(disks, "a,b.img,DATA", s));
  EXPECT_EQ(s.partition->name, "Partition0");
  ASSERT_TRUE(ResolveImagingTarget(disks, "a", s));
  EXPECT_EQ(s.devicePath, "/x/a");
  EXPECT_FALSE(ResolveImagingTarget(disks, "a,b.img,Nope", s));
  EXPECT_FALSE(ResolveImagingTarget(disks, "", s));
  EXPECT_FALSE(ResolveImagingTarget(disks, "c", s));
  EXPECT_EQ(SelectionText(disks.back(), &disks.back().partitions.front()), "a,b.img,Partition0");
}

// The range: inside the source (sectors past a partition table's claim on a
// shorter image do not exist), and inside a disk target.
TEST(ImagingPlan, RangeChecks) {
  std::string dir = test::MakeTempDir("plan");
  std::string image = dir + "/disk.img", target = dir + "/target.img";
  MakeFile(image, 4 << 20);
  MakeFile(target, 2 << 20);
  DiskRecord disk = Disk("disk.img", image, 4 << 20);
  disk.partitions.push_back(Partition("Partition0", 6144, 10000));  // claims past the end
  DiskRecord targetDisk = Disk("target.img", target, 2 << 20);
  ImagingJob job;
  job.source = SelectionOf(disk, &disk.partitions.front());
  job.filePath = dir + "/out.img";
  ImagingPlan plan;
  ASSERT_FALSE(PlanImaging(job, plan));
  EXPECT_EQ(plan.sourcePosition, 6144u * 512);
  EXPECT_EQ(plan.Sectors(), 8192u - 6144);
  job.startSector = 2048;
  EXPECT_EQ(PlanImaging(job, plan).text, kImagingOutsideSource);
  job.startSector = 10;
  job.sectorCount = 2039;
  EXPECT_EQ(PlanImaging(job, plan).text, kImagingOutsideSource);
  job.sectorCount = 2038;
  ASSERT_FALSE(PlanImaging(job, plan));

  job.toDisk = true;
  job.target = SelectionOf(targetDisk, nullptr);
  job.targetStartSector = 4096 - 2038;
  ASSERT_FALSE(PlanImaging(job, plan));
  EXPECT_EQ(plan.targetPosition, (4096u - 2038) * 512);
  EXPECT_EQ(plan.openMode, TargetOpenMode::kExistingDisk);
  job.targetStartSector += 1;
  EXPECT_EQ(PlanImaging(job, plan).text, kImagingTargetTooSmall);
  job.targetStartSector = UINT64_MAX;  // no wrap-around past the check
  EXPECT_EQ(PlanImaging(job, plan).text, kImagingTargetTooSmall);

  PartitionRecord striped = Partition("Volume", 0, 100);
  striped.volumeKind = kStripedVolume;
  job.target = SelectionOf(targetDisk, &striped);
  job.targetStartSector = 0;
  EXPECT_EQ(PlanImaging(job, plan).text, kImagingTargetComposite);
  test::RunCommand("rm -rf " + test::ShellQuote(dir));
}

// Targets whose writes would land on the source: the image itself (also by a
// hard link), the raw disk holding the image's file system, a file on the
// source disk; and a disk whose file systems are mounted.
TEST(ImagingPlan, TargetsOnTheSource) {
  std::string dir = test::MakeTempDir("plan");
  std::string image = dir + "/disk.img", hard = dir + "/hard.img";
  MakeFile(image, 1 << 20);
  ASSERT_EQ(::link(image.c_str(), hard.c_str()), 0);
  DiskRecord disk = Disk("disk.img", image, 1 << 20);
  ImagingJob job;
  job.source = SelectionOf(disk, nullptr);
  ImagingPlan plan;
  job.filePath = hard;
  EXPECT_EQ(PlanImaging(job, plan).text, kImagingTargetIsSource);
  job.filePath = dir + "/beside.img";
  EXPECT_FALSE(PlanImaging(job, plan));
  job.filePath = "/dev/null";
  EXPECT_EQ(PlanImaging(job, plan).text, kImagingNotAFile);

  // The block device under this folder, when there is one: writing it raw
  // would destroy the image; and it holds a mounted file system.
  struct stat st {};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  char link[4096] = {};
  std::string sys = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  std::string name = ::readlink(sys.c_str(), link, sizeof link - 1) > 0 ? link : "";
  std::string blockPath = "/dev/" + name.substr(name.find_last_of('/') + 1);
  struct stat bs {};
  if (name.empty() || ::stat(blockPath.c_str(), &bs) != 0 || !S_ISBLK(bs.st_mode)) {
    test::RunCommand("rm -rf " + test::ShellQuote(dir));
    GTEST_SKIP() << "the test folder does not lie on a block device here";
  }
  {
    DiskRecord raw = Disk("raw", blockPath, 1ull << 40);
    job.toDisk = true;
    job.target = SelectionOf(raw, nullptr);
    EXPECT_EQ(PlanImaging(job, plan).text, kImagingTargetIsSource);
    // With a source elsewhere (a tmpfs image) the same disk is refused as mounted.
    std::string shm = "/dev/shm/quorvel-plan-" + std::to_string(::getpid()) + ".img";
    MakeFile(shm, 1 << 20);
    DiskRecord elsewhere = Disk("shm.img", shm, 1 << 20);
    job.source = SelectionOf(elsewhere, nullptr);
    EXPECT_EQ(PlanImaging(job, plan).text, kImagingTargetMounted);
    ::unlink(shm.c_str());
    // And a file on that disk is refused when the disk itself is the source.
    job.toDisk = false;
    job.source = SelectionOf(raw, nullptr);
    job.filePath = dir + "/out.img";
    EXPECT_EQ(PlanImaging(job, plan).text, kImagingTargetIsSource);
  }
  test::RunCommand("rm -rf " + test::ShellQuote(dir));
}

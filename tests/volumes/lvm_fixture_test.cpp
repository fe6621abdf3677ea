// An LVM2 group made by pvcreate/vgcreate with logical volumes written back
// by vgcfgrestore, against pvs, vgs and lvs --segments; the file systems in
// the linear volumes against fls/icat on the volumes' bytes as lvs's extent
// ranges give them.
#include <gtest/gtest.h>

#include "volumes/volume_oracles.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

#define REQUIRE_LVM() \
  if (!HaveFixture("lvm-pv0.img")) GTEST_SKIP() << "lvm-pv0.img not built (needs root, loop devices and lvm2)"

std::string Oracle(const std::string& script) {
  return std::string(QUORVEL_SOURCE_DIR) + "/tests/volumes/oracles/" + script;
}

// Catches ids matched the wrong way (the label writes the UUID without
// dashes), segment sizes summed wrongly and segments read from the wrong
// stripe entry.
TEST(LvmFixture, GroupAndVolumesMatchLvmReports) {
  REQUIRE_LVM();
  for (const char* pv : {"pv0", "pv1"}) {
    CommandResult r = RunCommand(
        "(" + ShellQuote(QUORVEL_CLI) + " disks " + ShellQuote(FixturePath("lvm-" + std::string(pv) + ".img")) +
        " --json | python3 " + ShellQuote(Oracle("check_lvm.py")) + " " + ShellQuote(FixturePath("")) + " " + pv + ")");
    EXPECT_EQ(r.exitCode, 0) << pv << ": " << r.out << r.err;
  }
}

// The linear volumes read as the bytes lvm maps them to: FAT32 in one
// segment, NTFS in two segments stored in reverse order, ext4 recognised;
// the striped volume and the one on the other physical volume are listed
// with their reason, not read.
TEST(LvmFixture, LinearVolumesListAndSaveWhatTheSleuthKitFinds) {
  REQUIRE_LVM();
  const std::vector<std::string> pv0 = {FixturePath("lvm-pv0.img")};
  // ntfscp put the NTFS files in its root folder.
  for (auto [lv, file] : {std::pair{"lvfat", "docs/big.txt"}, std::pair{"lvntfs", "big.txt"}}) {
    std::string image = MakeTempDir("lvm-volume") + "/lv.img";
    CommandResult x = RunCommand("python3 " + ShellQuote(Oracle("extract_lv.py")) + " " + ShellQuote(FixturePath("")) +
                                 " " + lv + " " + ShellQuote(image));
    ASSERT_EQ(x.exitCode, 0) << x.err;
    std::set<std::string> expected = FlsUserFiles(image);
    ASSERT_TRUE(expected.count(file)) << lv;
    EXPECT_EQ(ListedUserFiles(ListVolume(pv0, lv)), expected) << lv;
    EXPECT_EQ(SaveOne(pv0, lv, std::string("根目录/") + file), IcatFile(image, file)) << lv;
  }
  CommandResult disks = RunQuorvel("disks " + QuoteAll(pv0));
  EXPECT_NE(disks.out.find("lvext4"), std::string::npos) << disks.out;
  EXPECT_NE(disks.out.find("striped over 2 physical volumes"), std::string::npos) << disks.out;
  EXPECT_NE(disks.out.find("lies on another physical volume (pv1)"), std::string::npos) << disks.out;
  CommandResult striped = RunQuorvel("ls " + QuoteAll(pv0) + "lvstripe --quiet");
  EXPECT_EQ(striped.exitCode, 2);
  EXPECT_NE(striped.err.find("striped"), std::string::npos) << striped.err;
}

}  // namespace
}  // namespace quorvel

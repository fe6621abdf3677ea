// Windows Server 2008 R2 dynamic disks (one group of nine disks, MBR and GPT
// ones mixed) against ldmtool's report of them: the group, its volumes and
// every member's disk and extent, whatever the order the disks are given in;
// and the files in each volume against The Sleuth Kit on the volume's bytes
// as ldmtool's extents give them.
#include <gtest/gtest.h>

#include <algorithm>

#include "volumes/volume_oracles.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

const char* kReport = "ldm-all/ldmtool.json";

std::string Disk(const std::string& name) { return FixturePath("ldm-all/ldm-2008r2-" + name + ".img"); }

std::vector<std::string> AllNine() {
  std::vector<std::string> disks;
  for (const char* set : {"mirrored", "raid5", "spanned", "striped"})
    for (int i = 1; i <= (std::string(set) == "raid5" ? 3 : 2); ++i)
      disks.push_back(Disk(set + ("-" + std::to_string(i))));
  return disks;
}

std::string Differences(const std::vector<std::string>& disks) {
  CommandResult r = RunCommand("(" + ShellQuote(QUORVEL_CLI) + " disks " + QuoteAll(disks) + "--json | python3 " +
                               ShellQuote(std::string(QUORVEL_SOURCE_DIR) + "/tests/volumes/oracles/check_ldm.py") +
                               " " + ShellQuote(FixturePath(kReport)) + " " + QuoteAll(disks) + ")");
  return r.out + r.err;
}

#define REQUIRE_LDM() \
  if (!HaveFixture(kReport)) GTEST_SKIP() << "ldm-all not built (shared data or ldmtool missing)"

// Catches members filed under the wrong disk or at the wrong start (each
// disk has its own data-area start: 63 on the MBR disks, 65570 on the GPT
// ones), a group that depends on which disk came first, and volumes lost
// when the group is built from a disk whose own volumes are elsewhere.
TEST(LdmFixture, GroupMatchesLdmtoolInEveryOrder) {
  REQUIRE_LDM();
  for (std::vector<std::string> set : {std::vector<std::string>{Disk("mirrored-1"), Disk("mirrored-2")},
                                       {Disk("raid5-1"), Disk("raid5-2"), Disk("raid5-3")},
                                       {Disk("spanned-1"), Disk("spanned-2")},
                                       {Disk("striped-1"), Disk("striped-2")}}) {
    std::sort(set.begin(), set.end());
    do {
      EXPECT_EQ(Differences(set), "") << QuoteAll(set);
    } while (std::next_permutation(set.begin(), set.end()));
  }
  std::vector<std::string> all = AllNine();
  EXPECT_EQ(Differences(all), "");
  std::reverse(all.begin(), all.end());
  EXPECT_EQ(Differences(all), "");
  std::rotate(all.begin(), all.begin() + 4, all.end());
  EXPECT_EQ(Differences(all), "");
}

// Every volume's NTFS lists the files fls finds in the volume's bytes, and
// the saved file is icat's: a misplaced stripe or extent breaks either.
TEST(LdmFixture, EveryVolumeListsAndSavesWhatTheSleuthKitFinds) {
  REQUIRE_LDM();
  const std::vector<std::string> all = AllNine();
  struct Case {
    const char* volume;
    std::vector<std::string> rows;  // the volume's components
  };
  for (const Case& c : {Case{"Volume1", {"Volume1-01"}}, Case{"Volume2", {"Volume2-01"}},
                        Case{"Volume3", {"Volume3-01", "Volume3-02"}}, Case{"Volume5", {"Volume5-01"}}}) {
    std::string image = MakeTempDir("ldm-volume") + "/volume.img";
    CommandResult x = RunCommand(
        "python3 " + ShellQuote(std::string(QUORVEL_SOURCE_DIR) + "/tests/volumes/oracles/extract_ldm_volume.py") +
        " " + ShellQuote(FixturePath(kReport)) + " " + c.volume + " " + ShellQuote(image));
    ASSERT_EQ(x.exitCode, 0) << x.err;
    std::set<std::string> expected = FlsUserFiles(image);
    ASSERT_FALSE(expected.empty()) << c.volume;
    std::string wanted = IcatFile(image, "test.txt");
    for (const std::string& row : c.rows) {
      EXPECT_EQ(ListedUserFiles(ListVolume(all, row)), expected) << row;
      EXPECT_EQ(SaveOne(all, row, "根目录/test.txt"), wanted) << row;
    }
  }
}

// RAID-5 with each member missing in turn lists and saves exactly what the
// whole volume does; the missing member's units are rebuilt from parity.
TEST(LdmFixture, Raid5ReadsTheSameWithAnyOneMemberMissing) {
  REQUIRE_LDM();
  const std::vector<std::string> whole = {Disk("raid5-1"), Disk("raid5-2"), Disk("raid5-3")};
  std::set<std::string> files = ListedUserFiles(ListVolume(whole, "Volume4-01"));
  ASSERT_TRUE(files.count("test.txt")) << "test.txt not listed";
  std::string bytes = SaveOne(whole, "Volume4-01", "根目录/test.txt");
  for (size_t missing = 0; missing < whole.size(); ++missing) {
    std::vector<std::string> present = whole;
    present.erase(present.begin() + static_cast<long>(missing));
    EXPECT_EQ(ListedUserFiles(ListVolume(present, "Volume4-01")), files) << "member " << missing << " missing";
    EXPECT_EQ(SaveOne(present, "Volume4-01", "根目录/test.txt"), bytes) << "member " << missing << " missing";
  }
  // Named by its drive hint too, as the disk page shows it.
  EXPECT_EQ(ListedUserFiles(ListVolume(whole, "H:")), files);
}

}  // namespace
}  // namespace quorvel

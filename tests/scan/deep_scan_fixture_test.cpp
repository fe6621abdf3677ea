// The deep scan on a disk whose partition table and boot sectors were wiped
// (FAT32, FAT16 and NTFS volumes made by mkfs.fat and mkntfs): the volumes are
// found, listed and saved through the command line, and what comes back is
// compared with what The Sleuth Kit listed before the wipe.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "recover/ls_json.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

struct ManifestFile {
  std::string fs, state, path, sha;
  uint64_t start = 0, size = 0;
};

std::vector<ManifestFile> ReadManifest() {
  std::vector<ManifestFile> out;
  std::ifstream in(test::FixturePath("deep_wiped.manifest"));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    ManifestFile f;
    std::string start, size;
    std::getline(fields, f.fs, '\t');
    std::getline(fields, start, '\t');
    std::getline(fields, f.state, '\t');
    std::getline(fields, f.path, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, f.sha, '\t');
    f.start = std::stoull(start);
    f.size = std::stoull(size);
    out.push_back(f);
  }
  return out;
}

// The regular files `fls -r -p` listed for each volume before the wipe.
std::map<std::string, std::set<std::string>> FlsFiles() {
  std::map<std::string, std::set<std::string>> out;
  std::ifstream in(test::FixturePath("deep_wiped.fls"));
  std::string fs;
  static const std::regex kFile(R"(^[r-]/r (\* )?[0-9-]+(\(realloc\))?:\t(.*)$)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (line.rfind("== ", 0) == 0)
      fs = line.substr(3, line.find(' ', 3) - 3);
    else if (std::regex_match(line, m, kFile) && m[3].str().find('$') == std::string::npos &&
             m[3].str().find("(Volume Label Entry)") == std::string::npos)
      out[fs].insert(m[3]);
  }
  return out;
}

std::string Quote(const std::string& s) { return test::ShellQuote(s); }

struct Found {
  std::string name, type;
  uint64_t start = 0;
  int origin = 0;
};

std::vector<Found> FoundPartitions(const std::string& image) {
  test::CommandResult r = test::RunQuorvel("deep-scan " + Quote(image) + " --json --quiet");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<Found> out;
  static const std::regex kPartition(
      R"re(\{"row":"[^"]*","name":"([^"]*)",.*?"type":"([^"]*)","fs_kind":\d+,"start_sector":(\d+),"sector_count":\d+,"role":\d+,"origin":(\d+))re");
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), kPartition); it != std::sregex_iterator(); ++it)
    out.push_back({(*it)[1], (*it)[2], std::stoull((*it)[3]), std::stoi((*it)[4])});
  return out;
}

// SHA-256 of every file saved below dir.
std::multiset<std::string> SavedHashes(const std::string& dir) {
  test::CommandResult r = test::RunCommand("(find " + Quote(dir) + " -type f -exec sha256sum {} + | cut -c1-64)");
  std::multiset<std::string> out;
  std::istringstream lines(r.out);
  for (std::string h; lines >> h;) out.insert(h);
  return out;
}

class WipedDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveFixture("deep_wiped.img"))
      GTEST_SKIP() << "deep_wiped.img not built (mkntfs, ntfs-3g or root missing)";
    image_ = test::FixturePath("deep_wiped.img");
    manifest_ = ReadManifest();
    fls_ = FlsFiles();
    for (const Found& p : FoundPartitions(image_)) partitions_.push_back(p);
  }

  // The first partition found of a type and origin (at `start` unless 0).
  std::string Find(const std::string& type, int origin, uint64_t start = 0) {
    for (const Found& p : partitions_)
      if (p.type == type && p.origin == origin && (start == 0 || p.start == start)) return p.name;
    return std::string();
  }

  // Lists and saves a found partition; checks every file of the volume
  // against the manifest by size and content (and by path where the reader
  // keeps the folders' names), leaving out what `skip` says cannot come back.
  void ExpectVolume(const std::string& fs, const std::string& partition, bool pathsKept,
                    const std::function<bool(const ManifestFile&)>& skip) {
    SCOPED_TRACE(fs + " " + partition);
    ASSERT_FALSE(partition.empty());
    test::CommandResult ls = test::RunQuorvel("ls " + Quote(image_) + " " + partition + " --deep-scan --json --quiet");
    ASSERT_EQ(ls.exitCode, 0) << ls.err;
    test::LsListing listing = test::ParseLsJson(ls.out);
    ASSERT_TRUE(listing.ok);
    std::multimap<uint64_t, test::LsEntry> bySize;
    std::set<std::string> paths;
    for (const test::LsEntry& e : listing.entries) {
      if (e.state != 2 && e.state != 4) continue;
      bySize.emplace(e.size, e);
      paths.insert(e.path);
    }
    const std::string out = test::MakeTempDir("deep-save");
    test::CommandResult save =
        test::RunQuorvel("save " + Quote(image_) + " " + partition + " --deep-scan --quiet --to " + Quote(out));
    ASSERT_EQ(save.exitCode, 0) << save.err;
    const std::multiset<std::string> hashes = SavedHashes(out);
    size_t checked = 0;
    for (const ManifestFile& f : manifest_) {
      if (f.fs != fs || skip(f)) continue;
      SCOPED_TRACE(f.path);
      ++checked;
      EXPECT_GE(bySize.count(f.size), 1u);
      EXPECT_GE(hashes.count(f.sha), 1u);
      if (pathsKept) {
        EXPECT_TRUE(paths.count("根目录/" + f.path));
      }
      const bool deleted = f.state == "deleted";
      bool stateSeen = false;
      for (auto [it, end] = bySize.equal_range(f.size); it != end; ++it)
        stateSeen |= (it->second.state == 2) == deleted;
      EXPECT_TRUE(stateSeen);
    }
    EXPECT_GT(checked, 8u);
  }

  std::string image_;
  std::vector<ManifestFile> manifest_;
  std::map<std::string, std::set<std::string>> fls_;
  std::vector<Found> partitions_;
};

TEST_F(WipedDisk, ManifestAgreesWithTheSleuthKitBeforeTheWipe) {
  for (const char* fs : {"FAT32", "FAT16", "NTFS"}) {
    size_t files = 0;
    for (const ManifestFile& f : manifest_) files += f.fs == fs;
    EXPECT_EQ(fls_[fs].size(), files) << fs;
  }
  for (const ManifestFile& f : manifest_) {
    if (f.fs == "NTFS") {
      EXPECT_TRUE(fls_["NTFS"].count(f.path)) << f.path;
    }
  }
}

TEST_F(WipedDisk, VolumesFoundByTheirBackupBootSectorsAndTraces) {
  EXPECT_FALSE(Find("FAT32", 2, 2048).empty());
  EXPECT_FALSE(Find("NTFS", 2, 116736).empty());
  // FAT16 keeps no backup: rebuilt from its FAT copies and folders.
  EXPECT_FALSE(Find("FAT16", 1).empty());
  // The whole disk as NTFS, for the MFT fragments.
  bool wholeDisk = false;
  for (const Found& p : partitions_) wholeDisk |= p.type == "NTFS" && p.origin == 1 && p.start == 0;
  EXPECT_TRUE(wholeDisk);
}

// NTFS lists every file by its path, in use and deleted, from the MFT
// fragments the scan recorded.
TEST_F(WipedDisk, NtfsListsAndSavesEveryFile) {
  ExpectVolume("NTFS", Find("NTFS", 2, 116736), true, [](const ManifestFile&) { return false; });
}

// FAT volumes come back through the recorded directory sectors: folders by
// their cluster numbers, so paths differ; files in the root folder are out of
// reach (the FAT16 root lies before the data area, and a FAT32 root that
// opens with the volume label ends its recorded parse at once).
TEST_F(WipedDisk, FatVolumesListAndSaveEveryFileBelowTheRoot) {
  auto atRoot = [](const ManifestFile& f) { return f.path.find('/') == std::string::npos; };
  ExpectVolume("FAT32", Find("FAT32", 2, 2048), false, atRoot);
  ExpectVolume("FAT16", Find("FAT16", 1), false, atRoot);
}

}  // namespace
}  // namespace quorvel

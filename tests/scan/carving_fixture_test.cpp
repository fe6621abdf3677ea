// Carving on files made by real tools (ImageMagick, Ghostscript, zip, libgsf,
// ffmpeg), planted in random data and in FAT32 and NTFS volumes whose copies
// were deleted and whose boot sectors and partition table were wiped. What
// the command line carves and saves is compared byte for byte with the
// planted files; foremost and photorec run on the same image as peers.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "recover/ls_json.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

struct Planted {
  uint64_t sector = 0, size = 0, carvedSize = 0;
  std::string file;
};

std::vector<Planted> ReadRawManifest() {
  std::vector<Planted> out;
  std::ifstream in(test::FixturePath("carving_raw.manifest"));
  Planted p;
  while (in >> p.sector >> p.size >> p.carvedSize >> p.file) out.push_back(p);
  return out;
}

std::string Slurp(const std::string& path) {
  std::vector<uint8_t> bytes = test::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string PlantedBytes(const std::string& file) { return Slurp(test::FixturePath("carving/" + file)); }

bool IsCompoundDocument(const std::string& file) { return file.ends_with(".doc") || file.ends_with(".xls"); }

// The carved files `ls SOURCE --deep-scan --json` lists, by start sector.
std::map<uint64_t, test::LsEntry> CarvedEntries(const std::string& image) {
  std::map<uint64_t, test::LsEntry> out;
  test::CommandResult ls = test::RunQuorvel("ls " + test::ShellQuote(image) + " --deep-scan --json --quiet");
  EXPECT_EQ(ls.exitCode, 0) << ls.err;
  test::LsListing listing = test::ParseLsJson(ls.out);
  EXPECT_TRUE(listing.ok);
  for (const test::LsEntry& e : listing.entries)
    if (e.state == 2) out.emplace(e.id, e);
  return out;
}

// Every file below `dir` by its SHA-256.
std::multiset<std::string> HashesBelow(const std::string& dir) {
  std::multiset<std::string> out;
  // In a subshell: the input redirection RunCommand appends must not replace the pipe.
  test::CommandResult r =
      test::RunCommand("(find " + test::ShellQuote(dir) + " -type f -exec sha256sum {} + | cut -c1-64)");
  std::istringstream lines(r.out);
  std::string hash;
  while (lines >> hash) out.insert(hash);
  return out;
}

// How many planted files a peer's output holds byte for byte.
size_t ExactCopies(const std::vector<Planted>& planted, const std::multiset<std::string>& hashes) {
  size_t n = 0;
  for (const Planted& p : planted) n += hashes.count(test::FileSha256(test::FixturePath("carving/" + p.file))) > 0;
  return n;
}

#define REQUIRE_FIXTURE(name) \
  if (!test::HaveFixture(name)) GTEST_SKIP() << name << " not built (a carving tool is missing)"

TEST(CarvingFixture, EveryPlantedFileIsCarvedAtItsSectorAndNothingElse) {
  REQUIRE_FIXTURE("carving_raw.img");
  const std::string image = test::FixturePath("carving_raw.img");
  const std::vector<Planted> planted = ReadRawManifest();
  ASSERT_EQ(planted.size(), 17u);

  // Random data between the files: nothing is carved there.
  std::map<uint64_t, test::LsEntry> carved = CarvedEntries(image);
  EXPECT_EQ(carved.size(), planted.size());
  for (const Planted& p : planted) {
    auto it = carved.find(p.sector);
    ASSERT_NE(it, carved.end()) << p.file;
    EXPECT_EQ(it->second.size, p.carvedSize) << p.file;
  }
  EXPECT_EQ(carved.at(planted.back().sector).name, "Annual report 2023.doc");  // its summary's title

  const std::string out = test::MakeTempDir("carve-raw");
  test::CommandResult save =
      test::RunQuorvel("save " + test::ShellQuote(image) + " --deep-scan --quiet --to " + test::ShellQuote(out));
  ASSERT_EQ(save.exitCode, 0) << save.err;
  size_t exact = 0;
  for (const Planted& p : planted) {
    SCOPED_TRACE(p.file);
    const std::string saved = Slurp(out + "/Extra Found Files/" + carved.at(p.sector).name);
    const std::string original = PlantedBytes(p.file);
    ASSERT_EQ(saved.size(), p.carvedSize);
    if (IsCompoundDocument(p.file)) {
      // FAT sectors × 64 KiB: the document, then what follows it on the disk.
      EXPECT_EQ(saved.substr(0, original.size()), original);
    } else if (p.file.ends_with(".pdf")) {
      // Up to "%EOF"; the line end after it is not part of the carve.
      EXPECT_EQ(original.substr(0, saved.size()), saved);
      EXPECT_EQ(original.substr(saved.size()).find_first_not_of("\r\n"), std::string::npos);
    } else {
      EXPECT_EQ(saved, original);
      ++exact;
    }
  }

  // The peers on the same image: how many planted files each writes byte-exact.
  size_t foremost = 0, photorec = 0;
  const bool haveForemost = test::RunCommand("command -v foremost").exitCode == 0;
  const bool havePhotorec = test::RunCommand("command -v photorec").exitCode == 0;
  if (haveForemost) {
    const std::string dir = test::MakeTempDir("carve-foremost") + "/out";
    test::RunCommand("foremost -Q -t all -i " + test::ShellQuote(image) + " -o " + test::ShellQuote(dir));
    foremost = ExactCopies(planted, HashesBelow(dir));
  }
  if (havePhotorec) {
    const std::string dir = test::MakeTempDir("carve-photorec") + "/recup";
    test::RunCommand("photorec /d " + test::ShellQuote(dir) + " /cmd " + test::ShellQuote(image) + " options,search");
    photorec = ExactCopies(planted, HashesBelow(dir + ".1"));
  }
  std::cout << "[ carving ] of " << planted.size() << " planted files, byte-exact: quorvel " << exact << " (the other "
            << planted.size() - exact << " at the carving rules' size), foremost "
            << (haveForemost ? std::to_string(foremost) : "-") << ", photorec "
            << (havePhotorec ? std::to_string(photorec) : "-") << std::endl;
  RecordProperty("quorvel_exact", static_cast<int>(exact));
  RecordProperty("foremost_exact", static_cast<int>(foremost));
  RecordProperty("photorec_exact", static_cast<int>(photorec));
  EXPECT_EQ(exact, planted.size() - 4);  // all but the PDF and the three compound documents
}

struct FoundPartition {
  std::string name, type;
  uint64_t start = 0, count = 0;
  int origin = 0;
};

std::vector<FoundPartition> DeepScanPartitions(const std::string& image) {
  test::CommandResult r = test::RunQuorvel("deep-scan " + test::ShellQuote(image) + " --json --quiet");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<FoundPartition> out;
  static const std::regex kPartition(
      R"re(\{"row":"[^"]*","name":"([^"]*)",.*?"type":"([^"]*)","fs_kind":\d+,"start_sector":(\d+),"sector_count":(\d+),"role":\d+,"origin":(\d+))re");
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), kPartition); it != std::sregex_iterator(); ++it)
    out.push_back({(*it)[1], (*it)[2], std::stoull((*it)[3]), std::stoull((*it)[4]), std::stoi((*it)[5])});
  return out;
}

TEST(CarvingFixture, FilesDeletedFromWipedFat32AndNtfsVolumes) {
  REQUIRE_FIXTURE("carving_volumes.img");
  const std::string image = test::FixturePath("carving_volumes.img");
  const std::vector<Planted> planted = ReadRawManifest();

  // Both volumes come back from their backup boot sectors.
  bool fat32 = false, ntfs = false;
  for (const FoundPartition& p : DeepScanPartitions(image)) {
    fat32 |= p.type == "FAT32" && p.origin == 2 && p.start == 2048;
    ntfs |= p.type == "NTFS" && p.origin == 2 && p.start == 2048 + 48 * 2048;
  }
  EXPECT_TRUE(fat32);
  EXPECT_TRUE(ntfs);

  const std::string out = test::MakeTempDir("carve-volumes");
  test::CommandResult save =
      test::RunQuorvel("save " + test::ShellQuote(image) + " --deep-scan --quiet --to " + test::ShellQuote(out));
  ASSERT_EQ(save.exitCode, 0) << save.err;
  const std::multiset<std::string> hashes = HashesBelow(out);
  std::vector<std::string> saved;
  test::CommandResult list = test::RunCommand("ls " + test::ShellQuote(out + "/Extra Found Files"));
  std::istringstream names(list.out);
  for (std::string line; std::getline(names, line);) saved.push_back(Slurp(out + "/Extra Found Files/" + line));
  for (const Planted& p : planted) {
    SCOPED_TRACE(p.file);
    const std::string original = PlantedBytes(p.file);
    if (IsCompoundDocument(p.file) || p.file.ends_with(".pdf")) {
      // At the carving rules' size: the document is a prefix of the carve, or
      // the carve of the PDF a prefix of the document.
      size_t found = 0;
      for (const std::string& s : saved)
        found += s.size() >= original.size() ? s.compare(0, original.size(), original) == 0
                                             : !s.empty() && original.compare(0, s.size(), s) == 0;
      EXPECT_GE(found, 1u);
    } else {
      // Once from each volume.
      EXPECT_EQ(hashes.count(test::FileSha256(test::FixturePath("carving/" + p.file))), 2u);
    }
  }
}

}  // namespace
}  // namespace quorvel

// The record sweep and the record reader on volumes made by mkntfs and
// ntfs-3g, checked against the files that were written (the manifests) and
// against The Sleuth Kit's fls.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "core/recording_sink.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/mft_scan.h"
#include "fs/ntfs/ntfs_craft.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::Bytes;

struct ManifestLine {
  bool deleted = false;
  std::string path;  // under the root, "/" separated
  bool folder = false;
  uint64_t size = 0;
  std::string sha256;
};

std::vector<ManifestLine> ReadManifest(const std::string& name) {
  std::vector<ManifestLine> lines;
  std::ifstream in(test::FixturePath(name));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() != 4) continue;
    ManifestLine m;
    m.deleted = f[0] == "deleted";
    m.path = f[1];
    m.folder = f[2] == "-";
    if (!m.folder) m.size = std::stoull(f[2]);
    m.sha256 = f[3];
    lines.push_back(m);
  }
  return lines;
}

struct Scanned {
  DiskRecord disk;
  std::map<std::string, const NtfsFileEntry*> paths;
  RecordingSink sink;
  bool ok = false;
  PartitionRecord& partition() { return disk.partitions.front(); }
};

void ScanFixture(const std::string& image, Scanned& out, bool viaFragments = false) {
  out.disk = test::WholeVolumeDisk(test::FixturePath(image));
  if (viaFragments) {
    // The fragment a deep scan would record: the MFT as the boot path finds it.
    Scanned first;
    ScanFixture(image, first);
    for (const MftRun& run : first.partition().ntfs.mftRuns)
      out.disk.mftFragments.push_back({run.startCluster * first.partition().sectorsPerCluster,
                                       static_cast<uint32_t>(run.clusterCount * first.partition().sectorsPerCluster)});
  }
  ScanProgress progress;
  progress.sink = &out.sink;
  out.ok = ScanMftRecords(progress, out.partition(), out.disk);
  out.paths = test::TreePaths(*out.partition().tree);
}

#define REQUIRE_FIXTURE(name) \
  if (!test::HaveFixture(name)) GTEST_SKIP() << name << " not built (mkntfs or ntfs-3g missing)"

// Every manifest entry is listed at its path with its state and size.
void ExpectManifestListed(const std::vector<ManifestLine>& manifest, const Scanned& scanned) {
  for (const ManifestLine& m : manifest) {
    auto it = scanned.paths.find("根目录/" + m.path);
    ASSERT_NE(it, scanned.paths.end()) << m.path;
    const NtfsFileEntry& e = *it->second;
    uint8_t want = m.folder ? (m.deleted ? kDeletedFolder : kFolder) : (m.deleted ? kDeletedFile : kFile);
    EXPECT_EQ(e.state(), want) << m.path;
    if (!m.folder) {
      EXPECT_EQ(e.size, m.size) << m.path;
    }
  }
}

// Faults caught: entries missing, misplaced, in the wrong state or with the
// wrong size; names outside code page 936 lost; records listed twice.
TEST(NtfsFixture, ListsEveryLiveAndDeletedEntryWritten) {
  REQUIRE_FIXTURE("ntfs.img");
  Scanned scanned;
  ScanFixture("ntfs.img", scanned);
  ASSERT_TRUE(scanned.ok);
  ExpectManifestListed(ReadManifest("ntfs.manifest"), scanned);
  std::set<uint64_t> numbers;
  for (const auto& [path, entry] : scanned.paths) {
    EXPECT_EQ(path.find(" #"), std::string::npos) << "listed twice: " << path;
    EXPECT_TRUE(numbers.insert(entry->recordNumber).second) << path;
  }
  EXPECT_TRUE(scanned.paths.count("根目录/emoji_😀.txt"));
}

struct TskEntry {
  bool deleted = false;
  bool folder = false;
  uint64_t size = 0;
};

// fls -r -p -l (and -d): path -> entry; metafiles, streams and orphans left out.
std::map<std::string, TskEntry> TskListing(const std::string& image, bool deletedOnly) {
  auto result = test::RunCommand(std::string("fls -r -p -l ") + (deletedOnly ? "-d " : "") +
                                 test::ShellQuote(test::FixturePath(image)));
  std::map<std::string, TskEntry> out;
  std::stringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() < 7) continue;
    const std::string& path = f[1];
    if (path.empty() || path[0] == '$' || path.find(':') != std::string::npos) continue;
    TskEntry e;
    e.deleted = f[0].find('*') != std::string::npos;
    e.folder = f[0][2] == 'd';
    e.size = std::stoull(f[6]);
    out[path] = e;
  }
  return out;
}

// Faults caught: live paths or sizes that differ from an independent reader;
// deleted files TSK still finds by name that the sweep misses.
TEST(NtfsFixture, AgreesWithSleuthKit) {
  REQUIRE_FIXTURE("ntfs.img");
  Scanned scanned;
  ScanFixture("ntfs.img", scanned);
  auto tsk = TskListing("ntfs.img", false);
  auto tskDeleted = TskListing("ntfs.img", true);
  ASSERT_FALSE(tsk.empty());
  ASSERT_FALSE(tskDeleted.empty());

  std::set<std::string> ours, theirs;
  for (const auto& [path, entry] : scanned.paths)
    if (path.rfind("根目录/", 0) == 0 && !IsDeletedState(entry->state()) && path.find("/$") == std::string::npos)
      ours.insert(path.substr(std::string("根目录/").size()));
  for (const auto& [path, entry] : tsk)
    if (!entry.deleted) theirs.insert(path);
  EXPECT_EQ(ours, theirs);
  for (const auto& [path, entry] : tsk) {
    if (entry.deleted || entry.folder) continue;
    auto it = scanned.paths.find("根目录/" + path);
    if (it != scanned.paths.end()) {
      EXPECT_EQ(it->second->size, entry.size) << path;
    }
  }
  for (const auto& [path, entry] : tskDeleted) {
    auto it = scanned.paths.find("根目录/" + path);
    ASSERT_NE(it, scanned.paths.end()) << "deleted, listed by TSK: " << path;
    EXPECT_TRUE(IsDeletedState(it->second->state())) << path;
    if (!entry.folder) {
      EXPECT_EQ(it->second->size, entry.size) << path;
    }
  }
}

// The file's bytes as the record describes them: resident value, runs in
// file order (sparse runs and bytes past the initialized size read as zeros)
// or compression units.
std::string ExtractAndHash(const ByteSource& device, const PartitionRecord& partition, const RecordDetails& details,
                           const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  auto write = [&](std::span<const uint8_t> bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return true;
  };
  if (!details.nonResident) {
    write(std::span<const uint8_t>(details.residentData)
              .first(std::min<size_t>(details.size, details.residentData.size())));
  } else if (details.IsCompressed()) {
    WriteCompressedRuns(device, write, SectorRunsOf(details, partition), partition.sectorsPerCluster, details.size,
                        partition, details.CompressionUnitClusters());
  } else {
    const uint64_t clusterBytes = uint64_t{partition.sectorsPerCluster} * 512;
    std::vector<uint8_t> buffer;
    uint64_t written = 0;
    for (const DataRun& run : details.dataRuns) {
      if (written >= details.size) break;
      buffer.assign(run.clusterCount * clusterBytes, 0);
      if (!run.sparse)
        device.ReadAt((partition.startSector + run.startCluster * partition.sectorsPerCluster) * 512, buffer);
      uint64_t at = run.vcn * clusterBytes;
      for (uint64_t i = 0; i < buffer.size(); ++i)
        if (at + i >= details.initializedSize) buffer[i] = 0;
      uint64_t take = std::min<uint64_t>(buffer.size(), details.size - written);
      write(std::span<const uint8_t>(buffer).first(take));
      written += take;
    }
  }
  out.close();
  return test::FileSha256(path);
}

// Faults caught: run lists decoded wrong (fragments, negative offsets, sparse
// runs, pieces behind an attribute list), compressed units decompressed
// wrong or out of place, resident data cut, deleted files' runs lost.
TEST(NtfsFixture, EveryFilesBytesMatchWhatWasWritten) {
  REQUIRE_FIXTURE("ntfs.img");
  Scanned scanned;
  ScanFixture("ntfs.img", scanned);
  auto device = FileSource::Open(test::FixturePath("ntfs.img"));
  ASSERT_TRUE(device);
  const std::string dir = test::MakeTempDir("ntfs_extract");
  size_t checked = 0;
  for (const ManifestLine& m : ReadManifest("ntfs.manifest")) {
    if (m.folder || m.path.rfind("frag/fill/", 0) == 0) continue;
    const NtfsFileEntry* entry = scanned.paths.at("根目录/" + m.path);
    RecordDetails details;
    ASSERT_TRUE(
        ReadMftRecord(*device, entry->recordNumber, details, scanned.partition(), scanned.partition().ntfs.mftRuns))
        << m.path;
    EXPECT_EQ(details.size, m.size) << m.path;
    EXPECT_EQ(ExtractAndHash(*device, scanned.partition(), details, dir + "/out"), m.sha256) << m.path;
    ++checked;
  }
  EXPECT_GE(checked, 20u);
}

// Fault caught: LZNT1 back-references split wrong between offset and length
// (real data compressed by ntfs-3g).
TEST(NtfsFixture, Lznt1UnitFromNtfs3g) {
  REQUIRE_FIXTURE("ntfs_lznt1_unit.bin");
  Bytes stored = test::ReadWholeFile(test::FixturePath("ntfs_lznt1_unit.bin"));
  Bytes plain = test::ReadWholeFile(test::FixturePath("ntfs_lznt1_plain.bin"));
  ASSERT_EQ(plain.size(), 65536u);
  Bytes out(65536, 0xEE);
  EXPECT_EQ(DecompressLznt1(stored, out), 65536u);
  EXPECT_EQ(out, plain);
  // A smaller output buffer is never passed.
  Bytes small(5000, 0);
  EXPECT_EQ(DecompressLznt1(stored, small), 5000u);
  EXPECT_TRUE(std::equal(small.begin(), small.end(), plain.begin()));
}

// Faults caught: a quick-formatted volume showing only its new, empty MFT;
// the old records after the new MFT's single run not swept.
TEST(NtfsFixture, QuickFormattedVolumeShowsTheOldFiles) {
  REQUIRE_FIXTURE("ntfs_reformat.img");
  Scanned scanned;
  ScanFixture("ntfs_reformat.img", scanned);
  ASSERT_TRUE(scanned.ok);
  EXPECT_EQ(scanned.partition().ntfs.mftRuns.size(), 2u);
  auto manifest = ReadManifest("ntfs_reformat.manifest");
  ASSERT_GT(manifest.size(), 300u);
  ExpectManifestListed(manifest, scanned);
}

// Fault caught: a volume whose primary boot sector is zeroed not read.
TEST(NtfsFixture, ZeroedBootSectorReadThroughBackup) {
  REQUIRE_FIXTURE("ntfs_nobootsector.img");
  Scanned scanned;
  ScanFixture("ntfs_nobootsector.img", scanned);
  ASSERT_TRUE(scanned.ok);
  EXPECT_EQ(scanned.partition().sectorsPerCluster, 4u);
  ExpectManifestListed(ReadManifest("ntfs_nobootsector.manifest"), scanned);
}

// Faults caught: the fragment path listing something else than the boot
// path; records not mapped to the sectors they were found at; the saver's
// by-position read failing on them.
TEST(NtfsFixture, FragmentPathListsTheSameTreeAndMapsSectors) {
  REQUIRE_FIXTURE("ntfs.img");
  Scanned byBoot, byFragments;
  ScanFixture("ntfs.img", byBoot);
  ScanFixture("ntfs.img", byFragments, true);
  ASSERT_TRUE(byFragments.ok);
  ASSERT_FALSE(byFragments.partition().ntfs.recordSectors.empty());
  std::map<std::string, std::pair<uint8_t, uint64_t>> a, b;
  for (const auto& [path, e] : byBoot.paths) a[path] = {e->state(), e->size};
  for (const auto& [path, e] : byFragments.paths) b[path] = {e->state(), e->size};
  EXPECT_EQ(a, b);

  auto device = FileSource::Open(test::FixturePath("ntfs.img"));
  ASSERT_TRUE(device);
  const PartitionRecord& partition = byFragments.partition();
  const NtfsFileEntry* large = byFragments.paths.at("根目录/big/large.bin");
  EXPECT_EQ(partition.ntfs.recordSectors.at(large->recordNumber),
            byBoot.partition().ntfs.mftStartSector + 2 * large->recordNumber);
  RecordDetails details;
  EXPECT_EQ(ReadMftRecordByPosition(*device, large->recordNumber, details, partition, partition.ntfs.mftRuns, *large),
            RecordByPositionResult::kRead);
  EXPECT_EQ(details.size, 3000000u);
}

}  // namespace
}  // namespace quorvel

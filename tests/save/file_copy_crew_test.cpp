// Files copied on two threads: counted in the order handed over, and none
// left behind as a file of zeros when the stop comes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "save/file_copy_crew.h"
#include "save_test_util.h"

namespace quorvel {
namespace {

using test::ReadWholeFile;

constexpr uint64_t kImageSectors = 32768;  // 16 MiB
constexpr uint64_t kBigStart = kImageSectors - (12 << 20) / 512 + 1;

struct CrewImage {
  std::string dir = test::SaveTempDir("crew");
  std::vector<uint8_t> bytes;
  PartitionRecord partition;
  ScanProgress progress;
  SaveJob job;

  CrewImage() {
    bytes.resize(kImageSectors * 512);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 509);
    const std::string path = dir + "/disk.img";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    job.source = SharedSource(FileSource::Open(path));
    partition.sectorCount = kImageSectors;
    job.partition = &partition;
    job.progress = &progress;
  }

  // A created target of size bytes whose data lies at sector, handed over
  // in pieces of pieceBytes.
  PreparedFile File(const std::string& name, uint64_t sector, uint64_t size, uint64_t pieceBytes) {
    PreparedFile prepared;
    EXPECT_TRUE(CreateTargetFile(prepared.file, dir + "/" + name));
    prepared.size = size;
    prepared.id = sector;
    prepared.lengthFirst = size > 0;
    for (uint64_t done = 0; done < size; done += pieceBytes)
      prepared.pieces.push_back({sector + done / 512, done, std::min(pieceBytes, size - done)});
    return prepared;
  }
};

// Catches: files counted as their copies end, so that the report's list of
// incomplete files (and which notes make its first fifty) changes from one
// run to the next.
TEST(FileCopyCrew, CountsFilesInTheOrderHandedOverWhateverCopiesFirst) {
  CrewImage image;
  SaveRun run;
  {
    FileCopyCrew crew(image.job, run);
    // A long first file keeps the worker busy while the walk copies the
    // later ones; it and every third file run past the partition's end.
    crew.Submit(image.File("big", kBigStart, 12 << 20, 1 << 20));
    for (int i = 0; i < 150; ++i) {
      const uint64_t sector = i % 3 == 2 ? kImageSectors - 2 : 100 + static_cast<uint64_t>(i) * 8;
      crew.Submit(image.File("f" + std::to_string(i), sector, 4096, 4096));
    }
    EXPECT_TRUE(crew.Drain());
  }
  const SaveSummary& s = run.summary;
  EXPECT_EQ(s.filesWritten, 151u);
  ASSERT_EQ(s.incomplete.size(), 51u);
  EXPECT_EQ(s.incomplete[0].path, image.dir + "/big");
  for (size_t k = 1; k < s.incomplete.size(); ++k) {
    EXPECT_EQ(s.incomplete[k].path, image.dir + "/f" + std::to_string(k * 3 - 1));
    EXPECT_EQ(s.incomplete[k].written, 1024u);
  }
  const std::vector<uint8_t> big = ReadWholeFile(image.dir + "/big");
  ASSERT_EQ(big.size(), (12u << 20) - 512);
  EXPECT_TRUE(std::equal(big.begin(), big.end(), image.bytes.begin() + kBigStart * 512));
  const std::vector<uint8_t> f10 = ReadWholeFile(image.dir + "/f10");
  EXPECT_TRUE(std::equal(f10.begin(), f10.end(), image.bytes.begin() + (100 + 10 * 8) * 512));
}

// Catches: targets created and given their length before the stop kept as
// files of zeros that look saved.
TEST(FileCopyCrew, StopRemovesTheFilesNotYetCopied) {
  CrewImage image;
  SaveRun run;
  FileCopyCrew crew(image.job, run);
  crew.Submit(image.File("before", 0, 8192, 4096));
  EXPECT_TRUE(crew.Drain());
  image.progress.RequestStop();
  crew.Submit(image.File("long", 0, 4 << 20, 1 << 20));
  crew.Submit(image.File("empty", 0, 0, 512));
  crew.Submit(image.File("short", 16, 4096, 4096));
  EXPECT_FALSE(crew.Drain());
  const std::set<std::string> left = test::Listing(image.dir);
  EXPECT_EQ(left, (std::set<std::string>{".", "..", "disk.img", "before", "empty"}));
  EXPECT_TRUE(run.summary.stopped);
  EXPECT_EQ(run.summary.filesWritten, 2u);
}

// Catches: a file with nothing to read (all holes, or nothing before the
// source's end) counted without the length that makes its zeros.
TEST(FileCopyCrew, AFileOfHolesGetsItsLength) {
  CrewImage image;
  SaveRun run;
  {
    FileCopyCrew crew(image.job, run);
    crew.Submit(image.File("warm-up", 0, 1 << 20, 1 << 20));  // the worker is busy
    PreparedFile holes = image.File("holes", 0, 0, 512);
    holes.size = 70000;
    holes.lengthFirst = true;
    holes.tally.Known(0, holes.size);
    crew.Submit(std::move(holes));
  }
  struct stat st {};
  ASSERT_EQ(stat((image.dir + "/holes").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 70000);
  EXPECT_EQ(run.summary.filesIncomplete, 0u);
}

}  // namespace
}  // namespace quorvel

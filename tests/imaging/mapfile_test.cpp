// The ddrescue mapfile: marking, what is left to copy, and the text format
// both ways (including ddrescue's own files and malformed ones).
#include <gtest/gtest.h>

#include <unistd.h>

#include "imaging/mapfile.h"
#include "imaging/mapfile_recorder.h"
#include "support/test_support.h"

using namespace quorvel;

namespace {

std::string BlocksText(const Mapfile& map) {
  std::string text;
  for (const MapBlock& b : map.Blocks())
    text += std::to_string(b.position) + "+" + std::to_string(b.size) + b.status + " ";
  return text;
}

}  // namespace

// Marks split and merge stretches; the blocks stay contiguous from 0 with
// gaps non-tried, as ddrescue requires.
TEST(Mapfile, MarksSplitAndMerge) {
  Mapfile map;
  map.Mark(1024, 4096, '?');
  EXPECT_EQ(BlocksText(map), "0+5120? ");
  map.Mark(1024, 1024, '+');
  map.Mark(2048, 512, '+');  // joins its left neighbour
  map.Mark(3072, 512, '-');
  EXPECT_EQ(BlocksText(map), "0+1024? 1024+1536+ 2560+512? 3072+512- 3584+1536? ");
  map.Mark(1536, 2048, '+');  // covers the bad sector and merges
  EXPECT_EQ(BlocksText(map), "0+1024? 1024+2560+ 3584+1536? ");
  map.Mark(2048, 512, '-');  // splits the finished stretch in three
  EXPECT_EQ(BlocksText(map), "0+1024? 1024+1024+ 2048+512- 2560+1024+ 3584+1536? ");
  map.Mark(0, 5120, '+');
  EXPECT_EQ(BlocksText(map), "0+5120+ ");
}

// The queries the rescue's passes walk the map with: the block holding a
// position (gaps and the space past the end are non-tried), the next block
// of a status either way inside a range, and the tally of a range.
TEST(Mapfile, FindsBlocksBothWaysAndTallies) {
  Mapfile map;
  map.Mark(1024, 1024, '+');
  map.Mark(2048, 512, '-');
  map.Mark(3072, 1024, '*');
  map.Mark(4608, 512, '-');
  map.Cover(6144);
  EXPECT_EQ(BlocksText(map), "0+1024? 1024+1024+ 2048+512- 2560+512? 3072+1024* 4096+512? 4608+512- 5120+1024? ");
  MapBlock b = map.BlockAt(0);
  EXPECT_EQ(b.position, 0u);
  EXPECT_EQ(b.size, 1024u);
  EXPECT_EQ(map.BlockAt(2600).status, '?');
  EXPECT_EQ(map.BlockAt(2600).position, 2560u);
  EXPECT_EQ(map.BlockAt(1u << 30).status, '?');
  EXPECT_EQ(map.BlockAt(1u << 30).End(), UINT64_MAX);

  struct Case {
    char status;
    uint64_t from, low, high;
    bool forwards;
    bool found;
    uint64_t position, size;
  };
  const std::vector<Case> cases = {
      {'?', 0, 0, 6144, true, true, 0, 1024},
      {'?', 512, 0, 6144, true, true, 512, 512},  // cut at from
      {'?', 1024, 0, 6144, true, true, 2560, 512},
      {'?', 6144, 0, 6144, false, true, 5120, 1024},
      {'?', 5120, 0, 6144, false, true, 4096, 512},
      {'?', 3000, 0, 6144, false, true, 2560, 440},    // cut at from, backwards
      {'?', 5120, 5200, 6000, true, true, 5200, 800},  // cut to the range
      {'-', 2560, 0, 6144, true, true, 4608, 512},
      {'-', 4608, 0, 6144, false, true, 2048, 512},
      {'*', 4096, 0, 6144, true, false, 0, 0},
      {'/', 0, 0, 6144, true, false, 0, 0},
      {'+', 6144, 2048, 6144, false, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.status) + " from " + std::to_string(c.from));
    MapBlock found;
    ASSERT_EQ(map.FindBlock(c.status, c.from, c.low, c.high, c.forwards, found), c.found);
    if (!c.found) continue;
    EXPECT_EQ(found.position, c.position);
    EXPECT_EQ(found.size, c.size);
  }
  MapTally t = map.Tally(0, 6144);
  EXPECT_EQ(t.finished, 1024u);
  EXPECT_EQ(t.badSector, 1024u);
  EXPECT_EQ(t.nonTrimmed, 1024u);
  EXPECT_EQ(t.nonTried, 3072u);
  EXPECT_EQ(t.badAreas, 2u);
  t = map.Tally(2304, 2560);  // starts inside a bad area
  EXPECT_EQ(t.badSector, 512u);
  EXPECT_EQ(t.badAreas, 2u);
  uint64_t last = 0;
  EXPECT_EQ(map.FinishedBytes(0, 6144, &last), 1024u);
  EXPECT_EQ(last, 2048u);
}

// Our text reads back to the same map, and in the layout ddrescue writes.
TEST(Mapfile, FormatAndParseRoundTrip) {
  Mapfile map;
  map.Mark(0, 0x300000, '?');
  map.Mark(0x100000, 0x117000, '+');
  map.Mark(0x217000, 0x200, '-');
  map.currentPosition = 0x217200;
  std::string text = FormatMapfile(map, {"Command line: quorvel image a b"});
  EXPECT_NE(text.find("# Command line: quorvel image a b\n"), std::string::npos);
  EXPECT_NE(text.find("0x00217200     ?               1\n"), std::string::npos);
  EXPECT_NE(text.find("0x00100000  0x00117000  +\n"), std::string::npos);
  EXPECT_NE(text.find("0x00217000  0x00000200  -\n"), std::string::npos);
  Mapfile back;
  std::string error;
  ASSERT_TRUE(ParseMapfile(text, back, error)) << error;
  EXPECT_EQ(BlocksText(back), BlocksText(map));
  EXPECT_EQ(back.currentPosition, 0x217200u);
  EXPECT_EQ(back.currentStatus, '?');
}

// ddrescue's own files (all statuses, octal and decimal numbers, comments
// after values, the older status line without a pass) are read; malformed
// ones are refused with the line that is wrong.
TEST(Mapfile, ParsesDdrescueFilesAndRefusesMalformedOnes) {
  const std::string ddrescue =
      "# Mapfile. Created by GNU ddrescue version 1.27\n"
      "# Command line: ddrescue -d -c18 /dev/fd0 fdimage mapfile\n"
      "# current_pos  current_status  current_pass\n"
      "0x00120000     ?               1\n"
      "#      pos        size  status\n"
      "0x00000000  0x00117000  +\n"
      "0x00117000  0x00000200  -   # a comment\n"
      "0x00117200  0x00001000  /\n"
      "0x00118200  077000  *\n"
      "1179648  0x00048000  ?\n";
  Mapfile map;
  std::string error;
  ASSERT_TRUE(ParseMapfile(ddrescue, map, error)) << error;
  EXPECT_EQ(BlocksText(map), "0+1142784+ 1142784+512- 1143296+4096/ 1147392+32256* 1179648+294912? ");
  ASSERT_TRUE(ParseMapfile("0x0 -\n0 512 +\n", map, error)) << error;
  EXPECT_EQ(map.currentStatus, '-');
  ASSERT_TRUE(ParseMapfile("# nothing yet\n\n", map, error));
  EXPECT_TRUE(map.Blocks().empty());

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"0 ? 1\n0 512 +\n1024 512 +\n", "line 3"},       // a gap
      {"0 ? 1\n0 1024 +\n512 512 -\n", "line 3"},       // overlap
      {"0 ? 1\n0 512 x\n", "line 2"},                   // unknown status
      {"0 ? 1\n0 -512 +\n", "line 2"},                  // negative size
      {"0 ? 1\n0xFFFFFFFFFFFFFFFF 2 +\n", "line 2"},    // past the largest position
      {"0 ? 1\n99999999999999999999 2 +\n", "line 2"},  // does not fit 64 bits
      {"0 Q 1\n", "line 1"},                            // bad status line
      {"0 ? 0\n", "line 1"},                            // pass 0
      {"0 ? 1\n0 512\n", "line 2"},                     // missing status
      {"0 ? 1\n0 512 + extra\n", "line 2"},             // extra word
      {std::string("0 \0 1\n", 6), "line 1"},           // a NUL is no status
      {std::string("0 ? 1\n0 512 \0\n", 14), "line 2"},
  };
  for (const auto& [text, where] : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseMapfile(text, map, error));
    EXPECT_EQ(error.rfind(where, 0), 0u) << error;
  }
}

// The recorder writes the mapfile only after the target was flushed, and
// keeps the last good file when a flush fails; the file replaces the old one
// whole (no temporary left behind).
TEST(Mapfile, RecorderSavesOnlyFlushedState) {
  class Target : public ImageWriter {
   public:
    bool WriteAt(uint64_t, std::span<const uint8_t>) override { return true; }
    bool Flush() override {
      ++flushes;
      return !fail;
    }
    std::string LastError() const override { return "Input/output error"; }
    bool fail = false;
    int flushes = 0;
  } target;
  std::string dir = test::MakeTempDir("mapfile");
  std::string path = dir + "/map";
  Mapfile map;
  map.Cover(4096);
  MapfileRecorder recorder(path, {"Start time: now"}, target, std::chrono::hours(1));
  EXPECT_FALSE(recorder.Due());
  ASSERT_TRUE(recorder.Save(map));
  map.Mark(0, 2048, '+');
  map.Mark(2048, 512, '-');
  ASSERT_TRUE(recorder.Save(map));
  Mapfile saved;
  std::string error;
  ASSERT_TRUE(ReadMapfile(path, saved, error)) << error;
  EXPECT_EQ(BlocksText(saved), "0+2048+ 2048+512- 2560+1536? ");
  target.fail = true;
  map.Mark(2560, 1536, '+');
  map.currentStatus = '+';
  EXPECT_FALSE(recorder.Save(map));
  EXPECT_NE(recorder.error().find("Input/output error"), std::string::npos);
  ASSERT_TRUE(ReadMapfile(path, saved, error));
  EXPECT_EQ(BlocksText(saved), "0+2048+ 2048+512- 2560+1536? ");
  target.fail = false;
  ASSERT_TRUE(recorder.Save(map));
  ASSERT_TRUE(ReadMapfile(path, saved, error));
  EXPECT_EQ(saved.currentStatus, '+');
  EXPECT_EQ(BlocksText(saved), "0+2048+ 2048+512- 2560+1536+ ");
  EXPECT_NE(::access((path + ".quorvel-tmp").c_str(), F_OK), 0);
  EXPECT_EQ(target.flushes, 4);
}

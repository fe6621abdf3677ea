// `quorvel ls --bodyfile` against The Sleuth Kit: the body file of a volume,
// run through `mactime -b`, must give the timeline `fls -m` gives for the
// same volume's live files (same names, sizes, dates and MACB letters).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cli/bodyfile_output.h"
#include "model/file_tree.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, by);) parts.push_back(part);
  return parts;
}

// A live regular file's main data as fls -m writes it (not its $FILE_NAME
// times, other streams, deleted entries, NTFS system files or the label).
// fls writes each byte of a code-page-936 short name as "^" where quorvel
// decodes it; such names are not compared.
bool LiveFileOfFls(const std::vector<std::string>& fields) {
  if (fields.size() != 11 || fields[3].rfind("r/", 0) != 0) return false;
  const std::string& name = fields[1];
  const std::string base = name.substr(name.rfind('/') + 1);
  return name.find(" (deleted") == std::string::npos && name.find("($FILE_NAME)") == std::string::npos &&
         name.find("(Volume Label Entry)") == std::string::npos && base.find(':') == std::string::npos &&
         name.rfind("/$", 0) != 0 && name.find('^') == std::string::npos;
}

// `mactime -b FILE -z UTC -d -y` as "date,size,macb,name" rows.
std::multiset<std::string> Timeline(const std::string& bodyFile, const std::set<std::string>& names) {
  CommandResult r = RunCommand("mactime -b " + ShellQuote(bodyFile) + " -z UTC -d -y");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::multiset<std::string> rows;
  for (const std::string& line : Split(r.out, '\n')) {
    std::vector<std::string> f = Split(line, ',');
    if (f.size() < 8) continue;
    std::string name = line.substr(line.find(",\"") + 2);
    name.pop_back();  // the closing quote
    if (names.count(name)) rows.insert(f[0] + "," + f[1] + "," + f[2] + "," + name);
  }
  return rows;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class BodyfileCli : public ::testing::TestWithParam<const char*> {};

// Catches: times off by a zone or an epoch, access/modify/change/create in
// the wrong columns, sizes, names without their folders, and a line format
// mactime cannot read.
TEST_P(BodyfileCli, TimelineMatchesFlsForLiveFiles) {
  const std::string fixture = GetParam();
  if (!HaveFixture(fixture)) GTEST_SKIP() << fixture << " not built";
  const std::string image = FixturePath(fixture);
  const std::string dir = MakeTempDir("bodyfile");
  CommandResult fls = RunCommand("TZ=UTC fls -m / -r " + ShellQuote(image));
  ASSERT_EQ(fls.exitCode, 0) << fls.err;
  CommandResult ours = RunQuorvel("ls " + ShellQuote(image) + " 0 --bodyfile --quiet");
  ASSERT_EQ(ours.exitCode, 0) << ours.err;

  std::map<std::string, std::vector<std::string>> ourLines;
  for (const std::string& line : Split(ours.out, '\n')) {
    std::vector<std::string> f = Split(line, '|');
    ASSERT_EQ(f.size(), 11u) << line;
    ourLines[f[1]] = f;
  }
  std::set<std::string> names;
  for (const std::string& line : Split(fls.out, '\n')) {
    std::vector<std::string> f = Split(line, '|');
    if (!LiveFileOfFls(f)) continue;
    names.insert(f[1]);
    auto it = ourLines.find(f[1]);
    ASSERT_NE(it, ourLines.end()) << "not in the body file: " << f[1];
    // size, atime, mtime, ctime, crtime
    for (size_t field : {6, 7, 8, 9, 10}) EXPECT_EQ(it->second[field], f[field]) << f[1] << " field " << field;
  }
  EXPECT_GT(names.size(), 10u);

  WriteFile(dir + "/fls.body", fls.out);
  WriteFile(dir + "/ours.body", ours.out);
  const std::multiset<std::string> expected = Timeline(dir + "/fls.body", names);
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(Timeline(dir + "/ours.body", names), expected);
}

INSTANTIATE_TEST_SUITE_P(Volumes, BodyfileCli, ::testing::Values("fat16.img", "fat32.img", "ntfs.img"),
                         [](const ::testing::TestParamInfo<const char*>& test) {
                           std::string name = test.param;
                           return name.substr(0, name.find('.'));
                         });

// Catches: impossible stored dates turned into years 2107 or negative
// times, and names that break the "|"-separated line.
TEST(BodyfileFields, DatesAndNamesStayInTheirField) {
  EXPECT_EQ(DosTimeToUnixSeconds(0, 0), 0);
  EXPECT_EQ(DosTimeToUnixSeconds((46 << 9) | (12 << 5) | 8, (5 << 11) | (6 << 5) | 7), 1796706374);
  EXPECT_EQ(DosTimeToUnixSeconds((46 << 9) | (13 << 5) | 8, 0), 0);  // month 13
  EXPECT_EQ(DosTimeToUnixSeconds((46 << 9) | (12 << 5) | 0, 0), 0);  // day 0
  EXPECT_EQ(FileTimeToUnixSeconds(0), 0);
  EXPECT_EQ(FileTimeToUnixSeconds(116444736000000000ull), 0);
  EXPECT_EQ(FileTimeToUnixSeconds(116444736000000000ull + 10000000ull * 86400), 86400);
  EXPECT_EQ(cli::BodyfileField("a|b\nc\x1B"), "a^b^c^");
  EXPECT_EQ(cli::BodyfileField("报告.doc"), "报告.doc");
}

}  // namespace
}  // namespace quorvel::test

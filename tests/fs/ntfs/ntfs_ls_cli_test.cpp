// `quorvel ls --json` on NTFS images against `fls -r -p` and `fls -r -p -d`.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/text.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

// Just enough JSON for the ls output: the entries' string and number fields.
class EntryReader {
 public:
  explicit EntryReader(const std::string& text) : s_(text) {}

  // Every object that has a "path" field, as field -> text (numbers as digits).
  std::vector<std::map<std::string, std::string>> Entries() {
    Value(0);
    return entries_;
  }
  bool ok() const { return ok_; }

 private:
  void Skip() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  std::string String() {
    std::string out;
    ++i_;  // opening quote
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      char e = s_[i_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          unsigned unit = static_cast<unsigned>(std::stoul(s_.substr(i_, 4), nullptr, 16));
          i_ += 4;
          uint8_t le[2] = {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8)};
          out += Utf16LeToUtf8(le, false);
          break;
        }
        default:
          out += e;
      }
    }
    ++i_;
    return out;
  }
  std::string Value(int depth) {
    Skip();
    if (i_ >= s_.size() || depth > 64) {
      ok_ = false;
      return {};
    }
    char c = s_[i_];
    if (c == '"') return String();
    if (c == '{') {
      ++i_;
      std::map<std::string, std::string> fields;
      for (Skip(); i_ < s_.size() && s_[i_] != '}'; Skip()) {
        if (s_[i_] == ',') {
          ++i_;
          continue;
        }
        Skip();
        std::string key = String();
        Skip();
        ++i_;  // ':'
        fields[key] = Value(depth + 1);
      }
      ++i_;
      if (fields.count("path")) entries_.push_back(fields);
      return {};
    }
    if (c == '[') {
      ++i_;
      for (Skip(); i_ < s_.size() && s_[i_] != ']'; Skip()) {
        if (s_[i_] == ',') {
          ++i_;
          continue;
        }
        Value(depth + 1);
      }
      ++i_;
      return {};
    }
    size_t start = i_;
    while (i_ < s_.size() && !std::strchr(",}] \n\r\t", s_[i_])) ++i_;
    return s_.substr(start, i_ - start);
  }

  const std::string& s_;
  size_t i_ = 0;
  bool ok_ = true;
  std::vector<std::map<std::string, std::string>> entries_;
};

struct Listed {
  int state = 0;
  uint64_t size = 0;
  uint64_t id = 0;
};

// fls -r -p -l [-d]: path -> (deleted, folder, size); metafiles and streams left out.
std::map<std::string, std::tuple<bool, bool, uint64_t>> Fls(const std::string& image, bool deletedOnly) {
  auto result = test::RunCommand(std::string("fls -r -p -l ") + (deletedOnly ? "-d " : "") + test::ShellQuote(image));
  std::map<std::string, std::tuple<bool, bool, uint64_t>> out;
  std::stringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() < 7 || f[1].empty() || f[1][0] == '$' || f[1].find(':') != std::string::npos) continue;
    out[f[1]] = {f[0].find('*') != std::string::npos, f[0][2] == 'd', std::stoull(f[6])};
  }
  return out;
}

// Faults caught: the command not reaching the NTFS sweep, paths or sizes that
// differ from an independent reader, deleted entries TSK names that are not
// listed as deleted, ids that are not record numbers.
TEST(NtfsLs, JsonAgreesWithFls) {
  if (!test::HaveFixture("ntfs.img")) GTEST_SKIP() << "ntfs.img not built";
  const std::string image = test::FixturePath("ntfs.img");
  auto result = test::RunQuorvel("ls " + test::ShellQuote(image) + " 0 --json");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EntryReader reader(result.out);
  std::map<std::string, Listed> ours;
  for (auto& fields : reader.Entries()) {
    Listed l;
    l.state = std::stoi(fields["state"]);
    l.size = std::stoull(fields["size"]);
    l.id = std::stoull(fields["id"]);
    ours[fields["path"]] = l;
  }
  ASSERT_TRUE(reader.ok());
  ASSERT_GT(ours.size(), 30u);

  auto live = Fls(image, false);
  auto deleted = Fls(image, true);
  std::set<std::string> oursLive, theirsLive;
  for (const auto& [path, l] : ours)
    if (path.rfind("根目录/", 0) == 0 && (l.state == 3 || l.state == 4)) oursLive.insert(path.substr(10));
  for (const auto& [path, t] : live)
    if (!std::get<0>(t)) theirsLive.insert(path);
  EXPECT_EQ(oursLive, theirsLive);
  for (const auto& [path, t] : live) {
    auto it = ours.find("根目录/" + path);
    if (it == ours.end() || std::get<1>(t)) continue;
    EXPECT_EQ(it->second.size, std::get<2>(t)) << path;
  }
  for (const auto& [path, t] : deleted) {
    auto it = ours.find("根目录/" + path);
    ASSERT_NE(it, ours.end()) << path;
    EXPECT_EQ(it->second.state, std::get<1>(t) ? 1 : 2) << path;
  }
  // Ids are record numbers: fls names them too ("r/r 77-128-2:<TAB>big/large.bin").
  auto listing = test::RunCommand("fls -r -p " + test::ShellQuote(image));
  std::stringstream lines(listing.out);
  std::string inode;
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 14 && line.substr(line.size() - 14) == "\tbig/large.bin") inode = line;
  EXPECT_EQ(inode.rfind("r/r " + std::to_string(ours.at("根目录/big/large.bin").id) + "-128-", 0), 0u) << inode;
}

}  // namespace
}  // namespace quorvel

#include "volumes/volume_oracles.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quorvel::test {

std::string QuoteAll(const std::vector<std::string>& sources) {
  std::string line;
  for (const std::string& s : sources) line += ShellQuote(s) + " ";
  return line;
}

std::set<std::string> FlsUserFiles(const std::string& volumeImage) {
  CommandResult r = RunCommand("fls -r -p -u " + ShellQuote(volumeImage));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::set<std::string> files;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string path = line.substr(tab + 1);
    // NTFS keeps its metadata in "$" files; FAT lists its own pseudo-files so.
    if (path.empty() || path[0] == '$' || path.find("/$") != std::string::npos) continue;
    if (path.find(':') != std::string::npos) continue;  // named streams
    if (path.find("(Volume Label Entry)") != std::string::npos) continue;
    files.insert(path);
  }
  return files;
}

std::set<std::string> ListedUserFiles(const LsListing& listing) {
  const std::string root = "根目录/";
  std::set<std::string> files;
  for (const LsEntry& e : listing.entries) {
    if (e.state != 3 && e.state != 4) continue;
    if (e.path.compare(0, root.size(), root) != 0) continue;
    std::string path = e.path.substr(root.size());
    if (path.empty() || path[0] == '$' || path.find("/$") != std::string::npos) continue;
    files.insert(path);
  }
  return files;
}

LsListing ListVolume(const std::vector<std::string>& sources, const std::string& partition) {
  CommandResult r = RunQuorvel("ls " + QuoteAll(sources) + ShellQuote(partition) + " --json --quiet");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  LsListing listing = ParseLsJson(r.out);
  EXPECT_TRUE(listing.ok) << r.out.substr(0, 200);
  return listing;
}

std::string IcatFile(const std::string& volumeImage, const std::string& path) {
  CommandResult find = RunCommand("ifind -n " + ShellQuote(path) + " " + ShellQuote(volumeImage));
  EXPECT_EQ(find.exitCode, 0) << path << ": " << find.err;
  std::string inode = find.out.substr(0, find.out.find('\n'));
  CommandResult cat = RunCommand("icat " + ShellQuote(volumeImage) + " " + inode);
  EXPECT_EQ(cat.exitCode, 0) << cat.err;
  return cat.out;
}

std::string SaveOne(const std::vector<std::string>& sources, const std::string& partition, const std::string& path) {
  std::string dir = MakeTempDir("save-volume");
  CommandResult r = RunQuorvel("save " + QuoteAll(sources) + ShellQuote(partition) + " --to " + ShellQuote(dir) +
                               " --path " + ShellQuote(path) + " --quiet");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<uint8_t> bytes = ReadWholeFile(dir + "/" + path);
  EXPECT_FALSE(bytes.empty()) << path << " was not saved";
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace quorvel::test

// The command line explains itself: every command answers -h and --help with
// its synopsis and every option, `quorvel --help` lists the commands, the
// README's command reference is the help word for word, and a mistake on the
// command line is named in the message.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "support/test_support.h"

namespace quorvel::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The names under "commands:" in `quorvel --help`.
std::vector<std::string> CommandNames() {
  std::vector<std::string> names;
  bool inList = false;
  for (const std::string& line : Lines(RunQuorvel("--help").out)) {
    if (line == "commands:") {
      inList = true;
      continue;
    }
    if (inList && line.empty()) break;
    if (inList) names.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return names;
}

// The option flags a help text's "options:" section explains.
std::set<std::string> ExplainedOptions(const std::string& help) {
  std::set<std::string> flags;
  bool inOptions = false;
  for (const std::string& line : Lines(help)) {
    if (line == "options:") inOptions = true;
    if (!inOptions || line.rfind("  --", 0) != 0) continue;
    flags.insert(line.substr(2, line.find_first_of(" [=", 2) - 2));
  }
  return flags;
}

// Catches: a command without help (today's "unknown option" or an attempt to
// open "-h"), an option in the synopsis that the help does not explain, and a
// help that names an option the parser refuses.
TEST(CliHelp, EveryCommandExplainsEveryOptionItTakes) {
  const std::vector<std::string> names = CommandNames();
  for (const char* expected :
       {"disks", "ls", "save", "cat", "hex", "format-scan", "deep-scan", "lost-partitions", "image"})
    EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
  for (const std::string& name : names) {
    CommandResult longForm = RunQuorvel(name + " --help");
    CommandResult shortForm = RunQuorvel(name + " /nonexistent.img -h");
    EXPECT_EQ(longForm.exitCode, 0) << name;
    EXPECT_EQ(shortForm.out, longForm.out) << name;
    EXPECT_EQ(longForm.out.rfind("usage: quorvel " + name + " ", 0), 0u) << longForm.out;
    EXPECT_NE(longForm.out.find("exit status"), std::string::npos) << name;
    const std::set<std::string> explained = ExplainedOptions(longForm.out);
    const std::string synopsis = longForm.out.substr(0, longForm.out.find("\n\n"));
    const std::regex flag("--[a-z-]+");
    for (auto it = std::sregex_iterator(synopsis.begin(), synopsis.end(), flag); it != std::sregex_iterator(); ++it)
      EXPECT_TRUE(explained.count(it->str())) << name << " does not explain " << it->str();
    for (const std::string& option : explained) {
      CommandResult r = RunQuorvel(name + " " + option + " 1 /nonexistent.img 0 x");
      EXPECT_EQ(r.err.find("unknown option"), std::string::npos) << name << " " << option << ": " << r.err;
    }
  }
}

TEST(CliHelp, OverviewListsEveryCommandAndTheVersion) {
  CommandResult overview = RunQuorvel("--help");
  EXPECT_EQ(overview.exitCode, 0);
  for (const std::string& name : CommandNames()) {
    // One line each: the name, then what it does.
    const std::regex line("\n  " + name + " +[a-z].*\n");
    EXPECT_TRUE(std::regex_search(overview.out, line)) << name;
  }
  EXPECT_EQ(RunQuorvel("help ls").out, RunQuorvel("ls --help").out);
  CommandResult version = RunQuorvel("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("quorvel [0-9]+\\.[0-9]+.*\n"))) << version.out;
  CommandResult none = RunQuorvel("");
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_NE(none.err.find("commands:"), std::string::npos);
}

// The README's block after "### `quorvel NAME --help`".
std::string ReadmeHelpBlock(const std::string& readme, const std::string& name) {
  const size_t heading = readme.find("### `quorvel " + name + " --help`");
  if (heading == std::string::npos) return std::string();
  const size_t open = readme.find("```\n", heading);
  const size_t close = readme.find("\n```\n", open);
  if (open == std::string::npos || close == std::string::npos) return std::string();
  return readme.substr(open + 4, close - open - 3);
}

// Catches: the README and the program describing a command differently.
TEST(CliHelp, ReadmeCommandReferenceIsTheHelp) {
  std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/README.md");
  const std::string readme{std::istreambuf_iterator<char>(in), {}};
  ASSERT_FALSE(readme.empty());
  const std::string heading = "## Command line\n\n```\n";
  const size_t synopsisStart = readme.find(heading);
  ASSERT_NE(synopsisStart, std::string::npos);
  const size_t synopsisEnd = readme.find("```\n", synopsisStart + heading.size());
  const std::string synopsis = readme.substr(synopsisStart, synopsisEnd - synopsisStart);
  for (const std::string& name : CommandNames()) {
    const std::string help = RunQuorvel(name + " --help").out;
    const std::string block = ReadmeHelpBlock(readme, name);
    ASSERT_FALSE(block.empty()) << "README has no help block for " << name;
    EXPECT_EQ(block, help) << name;
    // The synopsis at the head of the section: the help's usage lines
    // without their "usage: " column.
    std::string usage;
    for (const std::string& line : Lines(help.substr(0, help.find("\n\n")))) usage += line.substr(7) + "\n";
    EXPECT_NE(synopsis.find(usage), std::string::npos) << usage;
  }
}

// Catches: a wrong partition answered without the names to choose from, and
// an argument too many that the message does not name.
TEST(CliUsage, MistakesAreNamed) {
  if (!HaveFixture("demo.img")) GTEST_SKIP() << "demo.img not built";
  const std::string image = ShellQuote(FixturePath("demo.img"));
  CommandResult wrong = RunQuorvel("ls " + image + " Partition9 --quiet");
  EXPECT_EQ(wrong.exitCode, 2);
  for (const char* row : {"Partition9", "0  Partition0  NTFS", "1  Partition1  FAT32", "2  Partition2  FAT16"})
    EXPECT_NE(wrong.err.find(row), std::string::npos) << row << "\n" << wrong.err;
  EXPECT_NE(RunQuorvel("cat " + image + " 7 根目录/a.txt").err.find("0  Partition0"), std::string::npos);

  for (const std::string& args : {"hex " + image + " 1 根目录/a.txt surplus", "deep-scan " + image + " 1 surplus",
                                  "ls " + image + " Partition1 surplus", "lost-partitions " + image + " surplus",
                                  "image " + image + " 1 surplus --to-file /tmp/never"}) {
    CommandResult r = RunQuorvel(args);
    EXPECT_EQ(r.exitCode, 1) << args;
    EXPECT_NE(r.err.find("unexpected argument \"surplus\""), std::string::npos) << args << "\n" << r.err;
  }
  CommandResult option = RunQuorvel("ls " + image + " 1 --colour");
  EXPECT_EQ(option.exitCode, 1);
  EXPECT_NE(option.err.find("unknown option --colour"), std::string::npos);
  EXPECT_NE(option.err.find("usage: quorvel ls"), std::string::npos);
  EXPECT_EQ(RunQuorvel("save " + image + " 1 --to").exitCode, 1);  // --to without its folder
}

}  // namespace
}  // namespace quorvel::test

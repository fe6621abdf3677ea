#pragma once
// Each `quorvel` sub-command lives in its own file and registers itself here
// with everything its help shows: synopsis, arguments, options and notes. The
// options table is also what the command line is parsed against, so the help
// and the parser cannot drift apart.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace quorvel::cli {

// Exit statuses of the command line.
constexpr int kExitDone = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNotFound = 2;
constexpr int kExitStopped = 3;
// Finished, but some files are incomplete or could not be written.
constexpr int kExitIncomplete = 4;

// One positional argument as the help explains it.
struct ArgumentHelp {
  const char* name;  // "SOURCE..."
  const char* text;  // "\n" breaks the explanation into lines
};

// One option: what the parser accepts and what the help says about it.
struct OptionSpec {
  const char* flag;             // "--to"
  const char* value = nullptr;  // "DIR": the option takes the next argument (or --to=DIR)
  const char* text = "";        // "\n" breaks the explanation into lines
  // The value is optional and given only as --flag=VALUE (--lost-partitions=precise).
  bool optionalValue = false;
};

// The arguments of one run, split by the command's options table.
struct ParsedArgs {
  std::vector<std::string> raw;  // as given, for commands that read them themselves
  std::vector<std::string> positional;
  std::multimap<std::string, std::string> options;  // flag -> value ("" for switches)
  bool Has(const std::string& flag) const { return options.count(flag) > 0; }
  std::string Get(const std::string& flag) const {
    auto it = options.find(flag);
    return it == options.end() ? std::string() : it->second;
  }
  std::vector<std::string> GetAll(const std::string& flag) const;
};

using CommandFunction = int (*)(const ParsedArgs& args);

constexpr size_t kAnyCount = static_cast<size_t>(-1);

struct Command {
  const char* name;
  // The synopsis after "quorvel "; a second form goes on its own line after "\n".
  const char* usage;
  const char* summary;  // one line for `quorvel --help`
  std::vector<ArgumentHelp> arguments;
  std::vector<OptionSpec> options;
  const char* notes;  // after the options: output, exit status
  CommandFunction run;
  // How many positional arguments the parser lets through; the command
  // checks finer rules itself.
  size_t minPositional = 0;
  size_t maxPositional = kAnyCount;
  // The command reads args.raw itself (still only the flags of `options`).
  bool ownParser = false;
};

std::map<std::string, Command>& Commands();

struct CommandRegistrar {
  explicit CommandRegistrar(const Command& command) { Commands()[command.name] = command; }
};

// Splits args by the options table: an option not in it, a missing value or
// a value given to a switch fails with error set. "--" ends the options.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& options, ParsedArgs& parsed,
               std::string& error);

// The option of the table that arg names ("--to", "--to=DIR"), or null.
const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& arg);

// `quorvel NAME --help`.
std::string HelpText(const Command& command);
// `quorvel --help`: the commands with one line each.
std::string OverviewText();
std::string VersionText();

// Prints "quorvel NAME: why", the synopsis and where the help is; returns
// kExitUsage.
int UsageError(const char* commandName, const std::string& why);

}  // namespace quorvel::cli

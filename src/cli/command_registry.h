#pragma once
// Each `quorvel` sub-command lives in its own file and registers itself here.
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

using CommandFunction = int (*)(const std::vector<std::string>& args);

struct Command {
  const char* name;
  const char* usage;  // the synopsis line, shown by `quorvel help`
  CommandFunction run;
  const char* summary = nullptr;  // what the command does, in one line
  const char* help = nullptr;     // `quorvel NAME --help`: every option explained
};

std::map<std::string, Command>& Commands();

struct CommandRegistrar {
  explicit CommandRegistrar(const Command& command) { Commands()[command.name] = command; }
};

}  // namespace quorvel::cli
